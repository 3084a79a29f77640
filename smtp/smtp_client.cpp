// The client object: construction, configuration, the owner's sinks and
// destruction.
#include <unistd.h>

#include <array>

#include "smtp/internal/connection.h"
#include "smtp/internal/session_state.h"
#include "smtp/internal/system_log.h"
#include "smtp/smtp.h"

std::atomic<int> g_reply521{0};

SmtpTraceSink SystemLogTraceSink() {
    return SystemLogSink(std::make_shared<SystemLogWriter>());
}

CSmtp::CSmtp() : m_link(std::make_unique<SmtpConnection>()) {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) {
        throw ECSmtp(ERR_HOSTNAME);
    }
    m_localHost = name.data();
}

CSmtp::~CSmtp() {
    // Owners that need QUIT's outcome call CloseSession themselves.
    Shutdown();
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
    m_link->trace.SetSink(std::move(sink), data);
}
void CSmtp::SetWaitLimit(std::chrono::milliseconds limit) noexcept {
    m_link->transport.SetWaitLimit(limit);
}
void CSmtp::SetConnectTo(std::optional<SmtpEndpoint> target) {
    m_link->transport.SetConnectTo(std::move(target));
}
void CSmtp::SetAbort(std::shared_ptr<const SmtpAbort> abort) noexcept {
    m_link->transport.SetAbort(std::move(abort));
}
void CSmtp::SetStageSink(SmtpStageSink sink) {
    m_stage = std::move(sink);
}

const char* CSmtp::GetLastReply() const noexcept {
    return m_link->lines.LastReply();
}
const TlsReport& CSmtp::GetTlsReport() const noexcept {
    return m_link->transport.GetTlsReport();
}
bool CSmtp::HasSocket() const noexcept {
    return m_link->transport.HasSocket();
}
