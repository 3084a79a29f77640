// The connection sequence: socket, connect, TLS as the security mode says,
// greeting, EHLO, STARTTLS, authentication; and its end.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "smtp/channel_failure.h"
#include "smtp/smtp.h"
#include "smtp/socket_io.h"

namespace {

// Port 0 is the services database's "mail" port, else 25; network order.
std::uint16_t NetworkPort(std::uint16_t port) {
    if (port != 0) {
        return htons(port);
    }
    servent entry{};
    servent* found = nullptr;
    std::array<char, 1024> scratch{};
    if (getservbyname_r("mail", nullptr, &entry, scratch.data(), scratch.size(), &found) == 0 &&
        found != nullptr) {
        return static_cast<std::uint16_t>(found->s_port);
    }
    return htons(25);
}

// A dotted address is taken as it is; a name gives its first IPv4 address.
std::optional<in_addr> ResolveIpv4(const char* host) {
    in_addr address{};
    if (inet_aton(host, &address) != 0) {
        return address;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &results) != 0 || results == nullptr) {
        return std::nullopt;
    }
    std::optional<in_addr> first;
    if (results->ai_family == AF_INET) {
        first = reinterpret_cast<const sockaddr_in*>(results->ai_addr)->sin_addr;
    }
    freeaddrinfo(results);
    return first;
}

}  // namespace

bool ChannelIsBroken(std::int32_t code) noexcept {
    switch (code) {
        case ERR_SEND:
        case ERR_RECV:
        case ERR_SELECT:
        case ERR_CONNECTION_CLOSED:
        case ERR_NOT_RESPONDING:
        case ERR_NO_MEMORY:
        case ERR_TLS:
        case ERR_REPLY_TOO_LONG:
        case ERR_CANCELLED: return true;
        default: return false;
    }
}

void CSmtp::Connect(const char* host, std::uint16_t port) {
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        throw ECSmtp(ERR_SOCKET);
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = NetworkPort(port);
    const std::optional<in_addr> address = ResolveIpv4(host);
    // The lookup cannot be woken; an abort during it is seen here.
    if (m_abort && m_abort->Aborted()) {
        throw ECSmtp(ERR_CANCELLED);
    }
    if (!address) {
        throw ECSmtp(ERR_RESOLVE);
    }
    server.sin_addr = *address;
    const int flags = fcntl(m_socket, F_GETFL);
    if (flags < 0 || fcntl(m_socket, F_SETFL, flags | O_NONBLOCK) < 0) {
        throw ECSmtp(ERR_IOCTL);
    }
    // Every command is one write followed by a read, so Nagle's algorithm
    // could only hold back the TLS handshake's small records.
    const int on = 1;
    setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    if (connect(m_socket, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0) {
        return;
    }
    if (errno != EINPROGRESS) {
        throw ECSmtp(ERR_CONNECT);
    }
    short revents = 0;
    switch (WaitForSocket(m_socket, POLLOUT, WaitMillis(kConnectTimeout), &revents,
                          AbortDescriptor())) {
        case WaitResult::kFailed: throw ECSmtp(ERR_SELECT);
        case WaitResult::kTimeout: throw ECSmtp(ERR_CONNECT_TIMEOUT);
        case WaitResult::kAborted: throw ECSmtp(ERR_CANCELLED);
        case WaitResult::kReady: break;
    }
    // A refused connection also shows as writable; its error tells.
    int error = 0;
    socklen_t length = sizeof error;
    if ((revents & (POLLERR | POLLHUP)) != 0 ||
        getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        throw ECSmtp(ERR_SELECT);
    }
}

bool CSmtp::OpenSession(const char* host, std::uint16_t port, SmtpSecurity security,
                        bool authenticate, const char* login, const char* password) {
    if (HasSocket()) {
        CloseSession();  // one connection at a time; never leak the old one
    }
    m_recvBuffer[0] = '\0';
    m_peerName = host == nullptr ? "" : host;
    try {
        Announce(SmtpStage::kConnecting);
        Connect(m_peerName.c_str(), port);
        if (security != SECURITY_KEEP) {
            m_security = security;
        }
        if (m_security == SECURITY_STARTTLS || m_security == SECURITY_TLS) {
            InitTls();
            if (m_security == SECURITY_TLS) {
                Announce(SmtpStage::kSecuring);
                TlsHandshake();
            }
        }
        if (ReadReply(*LookupCommand(CMD_GREETING)) / 100 != 2) {
            throw ECSmtp(ERR_SERVER_NOT_READY);
        }
        SendEhlo();
        if (m_security == SECURITY_STARTTLS) {
            UpgradeToTls();
            SendEhlo();
        }
        Authenticate(authenticate, login, password);
    } catch (const ECSmtp& failure) {
        // A server that answered 530 wants nothing more, QUIT included; and a
        // channel that broke cannot carry a QUIT, whose own failure would
        // only hide the real one.
        if (std::strncmp(m_recvBuffer.get(), "530", 3) == 0 || ChannelIsBroken(failure.Code())) {
            m_connected = false;
        }
        CloseSession();
        throw;
    }
    return true;
}

void CSmtp::CloseSession() {
    std::optional<ECSmtp> quitFailure;
    if (m_connected) {
        Announce(SmtpStage::kClosing);
        try {
            SendQuit();
        } catch (const ECSmtp& failure) {
            quitFailure = failure;
            m_connected = false;
        }
    }
    CloseSocket();
    if (quitFailure) {
        throw *quitFailure;
    }
}
