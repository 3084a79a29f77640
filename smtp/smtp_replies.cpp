// The dialogue's access to the connection (a failure of the channel, or a
// 421 reply, fails the session), and the control commands EHLO, STARTTLS
// and QUIT.
#include "smtp/capabilities.h"
#include "smtp/internal/connection.h"
#include "smtp/internal/session_state.h"
#include "smtp/smtp.h"

int CSmtp::ReadReply(const SmtpCommandRow& row) {
    int code = 0;
    try {
        code = m_link->lines.ReadReply(row.recvTimeout);
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
    // RFC 5321, 3.8: a server that says 421 is closing the channel.
    if (code == 421) {
        SetState(SessionState::kFailed);
    }
    if (code == 521) {
        g_reply521 = 1;
    }
    return code;
}

void CSmtp::SetSendText(std::string_view text) {
    m_link->lines.SetSendText(text);
}

void CSmtp::Transmit(const SmtpCommandRow& row, std::size_t redactFrom) {
    if (!Usable()) {
        throw ECSmtp(ERR_CONNECTION_CLOSED);
    }
    try {
        m_link->lines.Transmit(row.sendTimeout, redactFrom);
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
}

void CSmtp::QueueData(std::string_view block) {
    static const SmtpCommandRow& kDataBlock = *LookupCommand(CMD_DATA_BLOCK);
    if (!Usable()) {
        throw ECSmtp(ERR_CONNECTION_CLOSED);
    }
    try {
        m_link->lines.QueueData(block, kDataBlock.sendTimeout);
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
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
    SetState(SessionState::kGreeted);
    if (code / 100 != 2) {
        m_capabilities = {};
        m_offeredMechanisms.clear();
        throw ECSmtp(ERR_REPLY_EHLO);
    }
    m_capabilities =
        ParseCapabilities({m_link->lines.LastReply(), m_link->lines.LastReplyLength()});
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
    if (code == 220 && m_link->lines.ReplyTrailing() != 0) {
        SetState(SessionState::kFailed);
    }
    if (code != 220 || m_state == SessionState::kFailed) {
        throw ECSmtp(ERR_REPLY_STARTTLS);
    }
    // RFC 3207, 4.2: "the client MUST discard any knowledge obtained from
    // the server ... which was not obtained from the TLS negotiation itself".
    m_capabilities = {};
    StartTls();
}

void CSmtp::SendQuit() {
    SetState(SessionState::kClosing);
    Command(CMD_QUIT, "QUIT\r\n");
}
