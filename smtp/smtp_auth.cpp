// SMTP AUTH (RFC 4954): choosing the mechanism and running it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <optional>

#include "codec/base64.h"
#include "smtp/auth_mechanisms.h"
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

// The dotted IPv4 address socket is connected to; empty when unknown.
std::string PeerAddress(int socket) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    std::array<char, INET_ADDRSTRLEN> dotted{};
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET ||
        inet_ntop(AF_INET, &peer.sin_addr, dotted.data(), dotted.size()) == nullptr) {
        return {};
    }
    return dotted.data();
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
    Announce(SmtpStage::kLoggingIn);
    // A fixed order of preference; the server's order plays no part.
    const AuthMechanism* mechanism = ChooseAuthMechanism(m_capabilities);
    if (mechanism == nullptr) {
        throw ECSmtp(ERR_AUTH_LOGIN_UNSUPPORTED);
    }
    RunAuthMechanism(*mechanism);
}

void CSmtp::RunAuthMechanism(const AuthMechanism& mechanism) {
    AuthExchange exchange{m_login, m_password, PeerAddress(m_socket), 0, {}};
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
    const std::string_view reply(m_recvBuffer.get(), m_replyLength);
    const std::size_t end = reply.find("\r\n");
    if (end == 3) {
        return std::string();  // "334" alone: an empty challenge
    }
    if (end == std::string_view::npos || end < 4 || reply[3] != ' ') {
        return std::nullopt;
    }
    return Base64DecodeStrict(reply.substr(4, end - 4));
}
