// TCP and TLS under the client: lookup, connect, handshake and
// verification, and the one write and read path over either.
#include "smtp/internal/transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "smtp/command_table.h"
#include "smtp/internal/handshake_report.h"
#include "smtp/internal/socket_io.h"
#include "smtp/smtp_error.h"

namespace {

struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const noexcept { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const noexcept { SSL_free(ssl); }
};
using UniqueSslCtx = std::unique_ptr<SSL_CTX, SslCtxFree>;
using UniqueSsl = std::unique_ptr<SSL, SslFree>;

// SNI (RFC 6066); the macro for it carries a C cast.
bool SendServerName(SSL* tls, const char* name) {
    return SSL_ctrl(tls, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                    const_cast<char*>(name)) == 1;
}

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

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

struct SmtpTransport::Tls {
    UniqueSslCtx context;
    UniqueSsl session;  // non-null: all traffic is TLS
};

SmtpTransport::SmtpTransport() : m_tls(std::make_unique<Tls>()) {}

SmtpTransport::~SmtpTransport() {
    Close();
}

int SmtpTransport::WaitMillis(std::int32_t seconds) const noexcept {
    const std::int64_t table = std::int64_t{seconds} * 1000;
    const std::int64_t limit = m_waitLimit.count();
    return static_cast<int>(limit > 0 && limit < table ? limit : table);
}

SmtpTransport::Clock::time_point SmtpTransport::DeadlineAfter(
    std::int32_t timeoutSeconds) const noexcept {
    return Clock::now() + std::chrono::milliseconds(WaitMillis(timeoutSeconds));
}

// One bounded wait; 109 when it fails, 402 when it runs out, 419 when the
// owner aborts. Before a wait for bytes from the server, TCP_QUICKACK: the
// server may hold its next record until ours is acknowledged, and Linux
// clears the flag again by itself, so it is set before each wait.
short SmtpTransport::WaitFor(short events, int millis) {
    if (m_socket < 0) {
        throw ECSmtp(ERR_CONNECTION_CLOSED);  // never a whole time-out on no descriptor
    }
    if ((events & POLLIN) != 0) {
        const int on = 1;
        setsockopt(m_socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
    short revents = 0;
    switch (
        WaitForSocket(m_socket, events, millis, &revents, m_abort ? m_abort->Descriptor() : -1)) {
        case WaitResult::kFailed: throw ECSmtp(ERR_SELECT);
        case WaitResult::kTimeout: throw ECSmtp(ERR_NOT_RESPONDING);
        case WaitResult::kAborted: throw ECSmtp(ERR_CANCELLED);
        case WaitResult::kReady: break;
    }
    return revents;
}

void SmtpTransport::Connect(const char* host, std::uint16_t port) {
    Close();
    m_tlsReport = {};
    m_peerName = host == nullptr ? "" : host;
    OpenSocket(m_peerName.c_str(), port);
}

void SmtpTransport::OpenSocket(const char* host, std::uint16_t port) {
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        throw ECSmtp(ERR_SOCKET);
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = NetworkPort(m_connectTo ? m_connectTo->port : port);
    const std::optional<in_addr> address =
        ResolveIpv4(m_connectTo ? m_connectTo->ipv4.c_str() : host);
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
    if (errno == ECONNREFUSED) {
        throw ECSmtp(ERR_CONNECTION_REFUSED);
    }
    if (errno != EINPROGRESS) {
        throw ECSmtp(ERR_CONNECT);
    }
    short revents = 0;
    switch (WaitForSocket(m_socket, POLLOUT, WaitMillis(kConnectTimeout), &revents,
                          m_abort ? m_abort->Descriptor() : -1)) {
        case WaitResult::kFailed: throw ECSmtp(ERR_SELECT);
        case WaitResult::kTimeout: throw ECSmtp(ERR_CONNECT_TIMEOUT);
        case WaitResult::kAborted: throw ECSmtp(ERR_CANCELLED);
        case WaitResult::kReady: break;
    }
    // A refused connection also shows as writable; its error tells.
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        throw ECSmtp(ERR_CONNECT);
    }
    if (error == ECONNREFUSED) {
        throw ECSmtp(ERR_CONNECTION_REFUSED);
    }
    if (error != 0 || (revents & (POLLERR | POLLHUP)) != 0) {
        throw ECSmtp(ERR_CONNECT);
    }
}

void SmtpTransport::StartTls(bool first) {
    m_handshakeFailed = false;
    m_plainReplyStart.clear();
    Handshake(first);
}

void SmtpTransport::Handshake(bool first) {
    if (OPENSSL_init_ssl(0, nullptr) != 1) {
        throw ECSmtp(ERR_TLS);
    }
    UniqueSslCtx context(SSL_CTX_new(TLS_client_method()));
    // Verify the server: the password must not go to whoever answers.
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(context.get()) != 1) {
        ERR_clear_error();
        throw ECSmtp(ERR_TLS);
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(context.get(), SSL_MODE_AUTO_RETRY);

    UniqueSsl tls(SSL_new(context.get()));
    if (!tls || SSL_set_fd(tls.get(), m_socket) != 1) {
        ERR_clear_error();
        throw ECSmtp(ERR_TLS);
    }
    in_addr address{};
    const bool isAddress = inet_pton(AF_INET, m_peerName.c_str(), &address) == 1;
    const bool named = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls.get()),
                                                                 m_peerName.c_str()) == 1
                                 : SendServerName(tls.get(), m_peerName.c_str()) &&
                                       SSL_set1_host(tls.get(), m_peerName.c_str()) == 1;
    if (!named) {
        ERR_clear_error();
        throw ECSmtp(ERR_TLS);
    }
    HandshakeNotes notes;
    WatchHandshake(tls.get(), &notes);
    short events = 0;
    const SigpipeGuard noSigpipe;
    for (;;) {
        if (events != 0) {
            WaitFor(events, WaitMillis(kConnectTimeout));
        }
        const int result = SSL_connect(tls.get());
        const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(tls.get(), result);
        if (error == SSL_ERROR_NONE) {
            break;
        }
        if (error == SSL_ERROR_WANT_READ) {
            events = POLLIN;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            events = POLLOUT;
        } else {
            FailHandshake(tls.get(), notes, first);
        }
    }
    if (SSL_get_verify_result(tls.get()) != X509_V_OK) {
        FailHandshake(tls.get(), notes, first);
    }
    StopWatching(tls.get());
    m_tls->context = std::move(context);
    m_tls->session = std::move(tls);
}

void SmtpTransport::FailHandshake(const SSL* tls, const HandshakeNotes& notes, bool first) {
    m_tlsReport = ReportFailedHandshake(tls, notes, first);
    m_handshakeFailed = true;
    const bool plain = m_tlsReport.problem == TlsProblem::kPlainText;
    if (plain) {
        m_plainReplyStart = notes.firstHeader;
    }
    throw ECSmtp(plain ? ERR_TLS_PLAIN_SERVER : ERR_TLS);
}

void SmtpTransport::Close() noexcept {
    if (m_socket >= 0) {
        if (m_tls->session) {
            // close_notify goes out while the descriptor is still ours; later
            // the number may belong to another file.
            const SigpipeGuard noSigpipe;
            SSL_shutdown(m_tls->session.get());
            ERR_clear_error();
        }
        close(m_socket);
        m_socket = -1;
    }
    // The connection is gone, so is its TLS session: a later connection on
    // this object must not write through it.
    m_tls->session.reset();
    m_tls->context.reset();
}

std::string SmtpTransport::PeerAddress() const {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    std::array<char, INET_ADDRSTRLEN> dotted{};
    if (getpeername(m_socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET ||
        inet_ntop(AF_INET, &peer.sin_addr, dotted.data(), dotted.size()) == nullptr) {
        return {};
    }
    return dotted.data();
}

SmtpTransport::Progress SmtpTransport::TryWrite(std::string_view bytes, std::size_t* count) {
    if (SSL* tls = m_tls->session.get()) {
        const int result = SSL_write_ex(tls, bytes.data(), bytes.size(), count);
        switch (result == 1 ? SSL_ERROR_NONE : SSL_get_error(tls, result)) {
            case SSL_ERROR_NONE: return Progress::kDone;
            case SSL_ERROR_WANT_READ: return Progress::kWantRead;
            case SSL_ERROR_WANT_WRITE: return Progress::kWantWrite;
            default: ERR_clear_error(); throw ECSmtp(ERR_TLS);
        }
    }
    const ssize_t sent = send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && WouldBlock(errno)) {
        return Progress::kWantWrite;
    }
    if (sent <= 0) {
        throw ECSmtp(ERR_SEND);
    }
    *count = static_cast<std::size_t>(sent);
    return Progress::kDone;
}

SmtpTransport::Progress SmtpTransport::TryRead(std::span<char> buffer, std::size_t* count) {
    if (SSL* tls = m_tls->session.get()) {
        const int result = SSL_read_ex(tls, buffer.data(), buffer.size(), count);
        switch (result == 1 ? SSL_ERROR_NONE : SSL_get_error(tls, result)) {
            case SSL_ERROR_NONE: return Progress::kDone;
            case SSL_ERROR_ZERO_RETURN: throw ECSmtp(ERR_CONNECTION_CLOSED);
            case SSL_ERROR_WANT_READ: return Progress::kWantRead;
            case SSL_ERROR_WANT_WRITE: return Progress::kWantWrite;
            default: ERR_clear_error(); throw ECSmtp(ERR_TLS);
        }
    }
    const ssize_t got = recv(m_socket, buffer.data(), buffer.size(), 0);
    if (got < 0 && WouldBlock(errno)) {
        return Progress::kWantRead;
    }
    if (got < 0) {
        throw ECSmtp(ERR_RECV);
    }
    if (got == 0) {
        throw ECSmtp(ERR_CONNECTION_CLOSED);
    }
    *count = static_cast<std::size_t>(got);
    return Progress::kDone;
}

void SmtpTransport::Write(std::string_view bytes, std::int32_t timeoutSeconds) {
    const int millis = WaitMillis(timeoutSeconds);
    // OpenSSL writes with write(2), where MSG_NOSIGNAL cannot be passed.
    std::optional<SigpipeGuard> noSigpipe;
    if (m_tls->session) {
        noSigpipe.emplace();
    }
    short events = POLLOUT;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        WaitFor(events, millis);
        std::size_t written = 0;
        switch (TryWrite(bytes.substr(offset), &written)) {
            case Progress::kDone:
                offset += written;
                events = POLLOUT;
                break;
            case Progress::kWantRead: events = POLLIN; break;
            case Progress::kWantWrite: events = POLLOUT; break;
        }
    }
}

std::size_t SmtpTransport::Read(std::span<char> buffer, Clock::time_point deadline) {
    std::optional<SigpipeGuard> noSigpipe;
    // Bytes OpenSSL already holds are read without asking the socket: they
    // will never make it readable again.
    bool wait = true;
    if (SSL* tls = m_tls->session.get()) {
        noSigpipe.emplace();
        wait = SSL_pending(tls) == 0 && SSL_has_pending(tls) == 0;
    }
    short events = POLLIN;
    for (;;) {
        if (wait) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                throw ECSmtp(ERR_NOT_RESPONDING);
            }
            WaitFor(events, static_cast<int>(left.count()));
        }
        std::size_t count = 0;
        const Progress progress = TryRead(buffer, &count);
        if (progress == Progress::kDone) {
            return count;
        }
        events = progress == Progress::kWantWrite ? POLLOUT : POLLIN;
        wait = true;
    }
}

std::size_t SmtpTransport::ReadArrived(std::span<char> buffer) noexcept {
    if (m_socket < 0) {
        return 0;
    }
    const ssize_t got = recv(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}
