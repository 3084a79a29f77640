// SMTP AUTH (RFC 4954): choosing the mechanism and running it.
#include <optional>

#include "codec/base64.h"
#include "smtp/auth_mechanisms.h"
#include "smtp/internal/connection.h"
#include "smtp/internal/session_state.h"
#include "smtp/reply_scanner.h"
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
    if (!authenticate || !m_capabilities.auth) {
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
    SetState(SessionState::kLoggingIn);
    // A fixed order of preference; the server's order plays no part.
    const AuthMechanism* mechanism = ChooseAuthMechanism(m_capabilities);
    if (mechanism == nullptr) {
        throw ECSmtp(ERR_AUTH_LOGIN_UNSUPPORTED);
    }
    RunAuthMechanism(*mechanism);
}

void CSmtp::RunAuthMechanism(const AuthMechanism& mechanism) {
    AuthExchange exchange{
        m_login, m_password, m_link->transport.PeerAddress(),
        0,       {},         [this](std::span<unsigned char> bytes) { return Random(bytes); }};
    const std::string command = "AUTH " + std::string(mechanism.name);
    // Nothing goes out when a line known now could not be sent later.
    if (const std::size_t known = mechanism.knownLength(exchange); known > 0) {
        RequireLineFits(known, mechanism.initialResponse ? command.size() + 1 : 0);
    }
    AuthStep step{mechanism.command, {}, 334, mechanism.refusal};
    int code = 0;
    if (mechanism.initialResponse) {
        // RFC 4954, 4: the initial response rides on the AUTH line.
        step = mechanism.next(exchange, std::string());
        code = Command(mechanism.command, EncodedLine(step.response, command + " "),
                       command.size() + 1);
    } else {
        code = Command(mechanism.command, command + "\r\n");
    }
    while (code == 334 && step.expect == 334) {
        step = mechanism.next(exchange, ReadChallenge());
        // An empty response is an empty line, which hides nothing.
        code = Command(step.command, EncodedLine(step.response),
                       step.response.empty() ? std::string_view::npos : 0);
    }
    if (code != step.expect) {
        throw ECSmtp(step.refused);
    }
}

std::optional<std::string> CSmtp::ReadChallenge() const {
    // RFC 4954, 4: "334" SP base64 CRLF, on one line.
    std::optional<std::string> challenge;
    bool first = true;
    ForEachReplyLine({m_link->lines.LastReply(), m_link->lines.LastReplyLength()},
                     [&challenge, &first](const ReplyLine& line) {
                         if (first && line.final) {
                             // "334" alone: an empty challenge
                             challenge = line.text.size() == 3
                                             ? std::string()
                                             : Base64DecodeStrict(line.text.substr(4));
                         }
                         first = false;
                     });
    return challenge;
}
