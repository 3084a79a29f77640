// Reading whole replies, and the control commands EHLO, STARTTLS and QUIT.
#include <algorithm>
#include <cstring>

#include "smtp/capabilities.h"
#include "smtp/reply_scanner.h"
#include "smtp/smtp.h"

int CSmtp::ReadReply(const SmtpCommandSpec& row) {
    FlushData();  // a reply can only come to what has been sent
    ReplyScanner scanner;
    for (;;) {
        const std::size_t count = Receive(row);
        const ReplyScanner::State state = scanner.Feed({m_recvBuffer.get(), count});
        if (state == ReplyScanner::State::kComplete) {
            break;
        }
        if (state == ReplyScanner::State::kTooLong) {
            throw ECSmtp(ERR_REPLY_TOO_LONG);
        }
    }
    // The code is known; a reply longer than the buffer keeps its beginning.
    const std::string& text = scanner.text();
    const std::size_t kept = std::min(text.size(), kSmtpBufferSize - 1);
    std::memcpy(m_recvBuffer.get(), text.data(), kept);
    m_recvBuffer[kept] = '\0';
    m_replyLength = kept;
    m_replyTrailing = scanner.trailing();
    Trace(std::string_view(text).substr(0, kept));
    if (scanner.code() == 521) {
        g_reply521 = 1;
    }
    return scanner.code();
}

int CSmtp::Command(SmtpCommand command, std::string_view text, std::size_t redactFrom) {
    const SmtpCommandSpec* row = LookupCommand(command);
    SetSendText(text);
    Transmit(*row, redactFrom);
    return ReadReply(*row);
}

void CSmtp::SendEhlo() {
    const std::string line = "EHLO " + m_localHost + "\r\n";
    const int code = Command(CMD_EHLO, line);
    m_connected = true;  // a QUIT is owed from here on, whatever the reply
    if (code / 100 != 2) {
        m_capabilities = {};
        throw ECSmtp(ERR_REPLY_EHLO);
    }
    m_capabilities = ParseCapabilities({m_recvBuffer.get(), m_replyLength});
}

void CSmtp::UpgradeToTls() {
    if (!m_capabilities.startTls) {
        throw ECSmtp(ERR_STARTTLS_UNSUPPORTED);
    }
    const int code = Command(CMD_STARTTLS, "STARTTLS\r\n");
    // RFC 3207: anything after the reply came in clear text and could have
    // been injected by a man in the middle; it must not be read as if it had
    // come through TLS.
    if (code != 220 || m_replyTrailing != 0) {
        throw ECSmtp(ERR_REPLY_STARTTLS);
    }
    // RFC 3207, 4.2: "the client MUST discard any knowledge obtained from
    // the server ... which was not obtained from the TLS negotiation itself".
    m_capabilities = {};
    Announce(SmtpStage::kSecuring);
    TlsHandshake();
}

void CSmtp::SendQuit() {
    Command(CMD_QUIT, "QUIT\r\n");
    m_connected = false;
}
