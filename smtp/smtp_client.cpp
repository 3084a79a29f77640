// The client object: construction, configuration, trace and destruction.
#include <syslog.h>
#include <unistd.h>

#include <array>

#include "smtp/smtp.h"
#include "smtp/tls_state.h"

int g_reply521 = 0;

SmtpTraceSink SystemLogTraceSink() {
    return [](std::string_view text) {
        syslog(LOG_USER | LOG_DEBUG, "%.*s", static_cast<int>(text.size()), text.data());
    };
}

CSmtp::CSmtp()
    : m_sendBuffer(std::make_unique<char[]>(kSmtpBufferSize)),
      m_recvBuffer(std::make_unique<char[]>(kSmtpBufferSize)),
      m_tlsState(std::make_unique<TlsState>()),
      m_trace(SystemLogTraceSink()) {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) {
        throw ECSmtp(ERR_HOSTNAME);
    }
    m_localHost = name.data();
}

CSmtp::~CSmtp() {
    if (m_connected) {
        try {
            CloseSession();
        } catch (const ECSmtp&) {
            // Owners that need QUIT's outcome call CloseSession themselves.
        }
    }
    CloseSocket();
    ReleaseTls();
}

void CSmtp::SetServer(const char* host, std::uint16_t port, bool authenticate) {
    m_port = port;
    m_server = host;
    m_authenticate = authenticate;
}

void CSmtp::SetUserLogin(const char* login) {
    m_login = login;
}
void CSmtp::SetUserPassword(const char* password) {
    m_password = password;
}
void CSmtp::SetSenderAddress(const char* address) {
    m_senderAddress = address;
}
void CSmtp::SetSenderName(const char* name) {
    m_senderName = name;
}
void CSmtp::SetReplyAddress(const char* address) {
    m_replyTo = address;
}
void CSmtp::SetSubjectLine(const char* subject) {
    m_subject = subject;
}
void CSmtp::SetMailerText(const char* mailer) {
    m_mailer = mailer;
}
void CSmtp::SetPriority(SmtpPriority priority) {
    m_priority = priority;
}
void CSmtp::SetSecurity(SmtpSecurity security) {
    m_security = security;
}

void CSmtp::AddRecipient(const char* address, const char* name) {
    if (address == nullptr) {
        throw ECSmtp(ERR_NO_RECIPIENT_ADDRESS);
    }
    m_recipients.push_back(SmtpRecipient{name == nullptr ? std::string() : name, address});
}

void CSmtp::AddBodyLine(const char* text) {
    m_bodyLines.Add(text == nullptr ? std::string_view() : std::string_view(text));
}

std::string_view CSmtp::GetBodyLine(std::uint32_t index) const {
    if (index >= m_bodyLines.LineCount()) {
        throw ECSmtp(ERR_LINE_OUT_OF_RANGE);
    }
    return m_bodyLines.Line(index);
}

void CSmtp::SetTraceSink(SmtpTraceSink sink, DataTrace data) {
    m_trace = std::move(sink);
    m_dataTrace = data;
}

void CSmtp::Trace(std::string_view text) const {
    if (m_trace) {
        m_trace(text);
    }
}

int CSmtp::WaitMillis(std::int32_t seconds) const noexcept {
    const std::int64_t table = std::int64_t{seconds} * 1000;
    const std::int64_t limit = m_waitLimit.count();
    return static_cast<int>(limit > 0 && limit < table ? limit : table);
}

void CSmtp::Announce(SmtpStage stage) const noexcept {
    // Progress is for show; a failing sink must not end an exchange (or,
    // from the closing QUIT, a destructor).
    try {
        if (m_stage) {
            m_stage(stage);
        }
    } catch (...) {
    }
}
