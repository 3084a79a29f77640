// The dialogue's access to the connection layer, and the control commands
// EHLO, STARTTLS and QUIT.
#include "smtp/capabilities.h"
#include "smtp/internal/connection.h"
#include "smtp/smtp.h"

int CSmtp::ReadReply(const SmtpCommandRow& row) {
    const int code = m_link->ReadReply(row);
    if (code == 521) {
        g_reply521 = 1;
    }
    return code;
}

void CSmtp::SetSendText(std::string_view text) {
    m_link->SetSendText(text);
}

void CSmtp::Transmit(const SmtpCommandRow& row, std::size_t redactFrom) {
    m_link->Transmit(row, redactFrom);
}

void CSmtp::QueueData(std::string_view block) {
    m_link->QueueData(block);
}

void CSmtp::FlushData() {
    m_link->FlushData();
}

int CSmtp::Command(SmtpCommand command, std::string_view text, std::size_t redactFrom) {
    const SmtpCommandRow* row = LookupCommand(command);
    SetSendText(text);
    Transmit(*row, redactFrom);
    return ReadReply(*row);
}

void CSmtp::SendEhlo() {
    const std::string line = "EHLO " + m_localHost + "\r\n";
    const int code = Command(CMD_EHLO, line);
    // A QUIT is owed from here on, whatever the reply (a 421 has left the
    // connection failed, and it stays so).
    m_link->SetState(SessionState::kGreeted);
    if (code / 100 != 2) {
        m_capabilities = {};
        m_offeredMechanisms.clear();
        throw ECSmtp(ERR_REPLY_EHLO);
    }
    m_capabilities = ParseCapabilities({m_link->LastReply(), m_link->LastReplyLength()});
    m_offeredMechanisms = m_capabilities.mechanisms;
}

void CSmtp::UpgradeToTls() {
    if (!m_capabilities.startTls) {
        throw ECSmtp(ERR_STARTTLS_UNSUPPORTED);
    }
    const int code = Command(CMD_STARTTLS, "STARTTLS\r\n");
    // RFC 3207 4.2: anything after the reply came in clear text and could
    // have been injected by a man in the middle; it must not be read as if
    // it had come through TLS. The server now expects a handshake, so the
    // connection is done: not even QUIT goes out in clear text.
    if (code == 220 && m_link->ReplyTrailing() != 0) {
        m_link->SetState(SessionState::kFailed);
    }
    if (code != 220 || m_link->State() == SessionState::kFailed) {
        throw ECSmtp(ERR_REPLY_STARTTLS);
    }
    // RFC 3207, 4.2: "the client MUST discard any knowledge obtained from
    // the server ... which was not obtained from the TLS negotiation itself".
    m_capabilities = {};
    m_link->StartTls();
}

void CSmtp::SendQuit() {
    m_link->SetState(SessionState::kClosing);
    Command(CMD_QUIT, "QUIT\r\n");
}
