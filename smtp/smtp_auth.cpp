// SMTP AUTH (RFC 4954): choosing the mechanism and running it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <optional>

#include "codec/base64.h"
#include "smtp/internal/connection.h"
#include "smtp/reply_scanner.h"
#include "smtp/sasl.h"
#include "smtp/smtp.h"

namespace {

// 210 unless prefix, the base64 form of byteCount bytes and CR LF fit the
// send buffer. Checked before encoding, so nothing huge is ever built.
void RequireLineFits(std::size_t byteCount, std::size_t prefixLength = 0) {
    const std::size_t encoded = byteCount / 3 * 4 + (byteCount % 3 != 0 ? 4 : 0);
    if (prefixLength + encoded + 2 > kSmtpBufferSize - 1) {
        throw ECSmtp(ERR_COMMAND_TOO_LONG);
    }
}

std::string EncodedLine(std::string_view bytes, std::string_view prefix = {}) {
    RequireLineFits(bytes.size(), prefix.size());
    std::string line(prefix);
    line += Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                         static_cast<std::int32_t>(bytes.size()));
    line += "\r\n";
    return line;
}

}  // namespace

void CSmtp::Authenticate(bool authenticate, const char* login, const char* password) {
    if (!authenticate || !ReplyHasKeyword(GetLastReply(), "AUTH")) {
        return;
    }
    if (login != nullptr) {
        m_login = login;
    }
    if (m_login.empty()) {
        throw ECSmtp(ERR_NO_LOGIN);
    }
    if (password != nullptr) {
        m_password = password;
    }
    if (m_password.empty()) {
        throw ECSmtp(ERR_NO_PASSWORD);
    }
    m_link->SetState(SessionState::kLoggingIn);
    // A fixed order of preference; the server's order plays no part.
    const char* offer = GetLastReply();
    if (ReplyHasKeyword(offer, "LOGIN")) {
        AuthLogin();
    } else if (ReplyHasKeyword(offer, "PLAIN")) {
        AuthPlain();
    } else if (ReplyHasKeyword(offer, "CRAM-MD5")) {
        AuthCramMd5();
    } else if (ReplyHasKeyword(offer, "DIGEST-MD5")) {
        AuthDigestMd5();
    } else {
        throw ECSmtp(ERR_AUTH_LOGIN_UNSUPPORTED);
    }
}

void CSmtp::AuthLogin() {
    const std::string user = EncodedLine(m_login);
    const std::string pass = EncodedLine(m_password);
    if (Command(CMD_AUTH_LOGIN, "AUTH LOGIN\r\n") != 334 || Command(CMD_USER, user, 0) != 334) {
        throw ECSmtp(ERR_REPLY_AUTH_LOGIN);
    }
    if (Command(CMD_PASSWORD, pass, 0) != 235) {
        throw ECSmtp(ERR_BAD_LOGIN);
    }
}

void CSmtp::AuthPlain() {
    constexpr std::string_view kPrefix = "AUTH PLAIN ";
    const std::string line = EncodedLine(PlainMessage(m_login, m_password), kPrefix);
    // One line carries everything, so any refusal is the credentials'.
    if (Command(CMD_AUTH_PLAIN, line, kPrefix.size()) != 235) {
        throw ECSmtp(ERR_BAD_LOGIN);
    }
}

void CSmtp::AuthCramMd5() {
    // The response is the login, a space and 32 hexadecimal digits.
    RequireLineFits(m_login.size() + 33);
    if (Command(CMD_AUTH_CRAM_MD5, "AUTH CRAM-MD5\r\n") != 334) {
        throw ECSmtp(ERR_REPLY_AUTH_CRAM_MD5);
    }
    const std::string response = CramMd5Response(m_login, m_password, ReadChallenge());
    if (Command(CMD_PASSWORD, EncodedLine(response), 0) != 235) {
        throw ECSmtp(ERR_BAD_LOGIN);
    }
}

void CSmtp::AuthDigestMd5() {
    if (Command(CMD_DIGEST_MD5, "AUTH DIGEST-MD5\r\n") != 334) {
        throw ECSmtp(ERR_REPLY_AUTH_DIGEST_MD5);
    }
    const std::optional<DigestChallenge> challenge = ParseDigestChallenge(ReadChallenge());
    if (!challenge) {
        throw ECSmtp(ERR_BAD_DIGEST_CHALLENGE);
    }
    // The digest URI names the server by the address actually connected to.
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    std::array<char, INET_ADDRSTRLEN> dotted{};
    if (getpeername(m_link->Descriptor(), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET ||
        inet_ntop(AF_INET, &peer.sin_addr, dotted.data(), dotted.size()) == nullptr) {
        throw ECSmtp(ERR_NO_DIGEST_SERVER);
    }
    DigestInputs inputs{m_login,          m_password,        challenge->realm,
                        challenge->nonce, NewDigestCnonce(), std::string("smtp/") + dotted.data()};
    if (inputs.cnonce.empty()) {
        throw ECSmtp(ERR_BAD_CREDENTIALS);
    }
    if (Command(CMD_DIGEST_MD5, EncodedLine(DigestMd5Response(inputs)), 0) != 334) {
        throw ECSmtp(ERR_REPLY_DIGEST_MD5);
    }
    if (Command(CMD_PASSWORD, "\r\n") != 235) {
        throw ECSmtp(ERR_BAD_LOGIN);
    }
}

std::string CSmtp::ReadChallenge() const {
    // The code and its separator go; decoding stops at the line's CR LF.
    const std::string_view reply(GetLastReply());
    return reply.size() > 4 ? Base64Decode(reply.substr(4)) : std::string();
}
