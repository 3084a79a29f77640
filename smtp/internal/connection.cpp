// The connection layer: socket, TLS, buffers, sending, whole replies, waits
// and the one state (smtp/internal/connection.h).
#include "smtp/internal/connection.h"

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

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "smtp/internal/handshake_report.h"
#include "smtp/internal/socket_io.h"
#include "smtp/internal/system_log.h"
#include "smtp/reply_scanner.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxChunk = kSmtpBufferSize - 1;  // room for the NUL
// Held data blocks are written in pieces of this size: large writes, and
// four full TLS records each.
constexpr std::size_t kOutboxFlush = std::size_t{64} * 1024;
// Grouped data blocks are traced once they reach this size.
constexpr std::size_t kTraceGroup = 4096;

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

// SmtpStage for the states that begin one.
std::optional<SmtpStage> StageOf(SessionState state) noexcept {
    switch (state) {
        case SessionState::kConnecting: return SmtpStage::kConnecting;
        case SessionState::kSecuring: return SmtpStage::kSecuring;
        case SessionState::kLoggingIn: return SmtpStage::kLoggingIn;
        case SessionState::kInTransaction: return SmtpStage::kSending;
        case SessionState::kClosing: return SmtpStage::kClosing;
        default: return std::nullopt;
    }
}

}  // namespace

struct SmtpConnection::Tls {
    UniqueSslCtx context;
    UniqueSsl session;  // non-null: all traffic is TLS
};

std::string_view SessionStateName(SessionState state) noexcept {
    switch (state) {
        case SessionState::kNoSocket: return "no socket";
        case SessionState::kConnecting: return "connecting";
        case SessionState::kConnected: return "connected";
        case SessionState::kSecuring: return "securing";
        case SessionState::kSecured: return "secured";
        case SessionState::kGreeted: return "greeted";
        case SessionState::kLoggingIn: return "logging in";
        case SessionState::kReady: return "ready";
        case SessionState::kInTransaction: return "in transaction";
        case SessionState::kInData: return "in data";
        case SessionState::kClosing: return "closing";
        case SessionState::kFailed: return "failed";
    }
    return "unknown";
}

SmtpConnection::SmtpConnection()
    : m_tls(std::make_unique<Tls>()),
      m_sendBuffer(std::make_unique<char[]>(kSmtpBufferSize)),
      m_recvBuffer(std::make_unique<char[]>(kSmtpBufferSize)),
      m_trace(SystemLogTraceSink()) {}

SmtpConnection::~SmtpConnection() {
    Close();
}

void SmtpConnection::SetTraceSink(SmtpTraceSink sink, CSmtp::DataTrace data) {
    m_trace = std::move(sink);
    m_dataTrace = data;
}

void SmtpConnection::SetState(SessionState next) noexcept {
    const SessionState now = m_state;
    if (next == now || (now == SessionState::kFailed && next != SessionState::kNoSocket &&
                        next != SessionState::kConnecting)) {
        return;
    }
    if (now == SessionState::kInData) {
        TraceDataSummary();  // a mail abandoned inside its data
    }
    m_state = next;
    std::array<char, 64> line{};
    const std::string_view from = SessionStateName(now);
    const std::string_view to = SessionStateName(next);
    const int length = std::snprintf(line.data(), line.size(), "%.*s%.*s -> %.*s",
                                     static_cast<int>(kTraceStatePrefix.size()),
                                     kTraceStatePrefix.data(), static_cast<int>(from.size()),
                                     from.data(), static_cast<int>(to.size()), to.data());
    if (length > 0) {
        Trace({line.data(), std::min(static_cast<std::size_t>(length), line.size() - 1)});
    }
    const std::optional<SmtpStage> stage = StageOf(next);
    // Progress is for show; a failing sink must not end an exchange (or,
    // from the closing QUIT, a destructor).
    if (stage && m_stage) {
        try {
            m_stage(*stage);
        } catch (...) {
        }
    }
}

bool SmtpConnection::QuitOwed() const noexcept {
    switch (m_state) {
        case SessionState::kGreeted:
        case SessionState::kLoggingIn:
        case SessionState::kReady:
        case SessionState::kInTransaction: return true;
        default: return false;
    }
}

bool SmtpConnection::Usable() const noexcept {
    return m_socket >= 0 && m_state != SessionState::kFailed;
}

void SmtpConnection::Trace(std::string_view text) const noexcept {
    try {
        if (m_trace) {
            m_trace(text);
        }
    } catch (...) {
        // The trace is for diagnosis; it must not change the exchange.
    }
}

int SmtpConnection::WaitMillis(std::int32_t seconds) const noexcept {
    const std::int64_t table = std::int64_t{seconds} * 1000;
    const std::int64_t limit = m_waitLimit.count();
    return static_cast<int>(limit > 0 && limit < table ? limit : table);
}

// One bounded wait; 109 when it fails, 402 when it runs out, 419 when the
// owner aborts. Before a wait for bytes from the server, TCP_QUICKACK: the
// server may hold its next record until ours is acknowledged, and Linux
// clears the flag again by itself, so it is set before each wait.
short SmtpConnection::WaitFor(short events, int millis) {
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

void SmtpConnection::Open(const char* host, std::uint16_t port) {
    Close();
    m_tlsReport = {};
    m_peerName = host == nullptr ? "" : host;
    SetState(SessionState::kConnecting);
    try {
        Connect(m_peerName.c_str(), port);
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
    SetState(SessionState::kConnected);
}

void SmtpConnection::Connect(const char* host, std::uint16_t port) {
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

void SmtpConnection::StartTls() {
    // Only a handshake that opens the connection can meet a plain greeting.
    const bool first = m_state == SessionState::kConnected;
    SetState(SessionState::kSecuring);
    try {
        Handshake(first);
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
    SetState(SessionState::kSecured);
}

void SmtpConnection::Handshake(bool first) {
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

void SmtpConnection::FailHandshake(const SSL* tls, const HandshakeNotes& notes, bool first) {
    m_tlsReport = ReportFailedHandshake(tls, notes, first);
    const bool plain = m_tlsReport.problem == TlsProblem::kPlainText;
    if (plain) {
        KeepPlainReply(notes.firstHeader);
    }
    std::string line(kTraceTlsPrefix);
    line.append(TlsProblemName(m_tlsReport.problem)).append(": ").append(m_tlsReport.detail);
    Trace(line.append("\r\n"));
    throw ECSmtp(plain ? ERR_TLS_PLAIN_SERVER : ERR_TLS);
}

void SmtpConnection::KeepPlainReply(std::string_view header) noexcept {
    const std::size_t kept = std::min(header.size(), kMaxChunk);
    std::memcpy(m_recvBuffer.get(), header.data(), kept);
    // Only what has arrived: the server waits for a command now, and its
    // greeting came as one piece.
    const ssize_t got = recv(m_socket, m_recvBuffer.get() + kept, kMaxChunk - kept, MSG_DONTWAIT);
    m_replyLength = kept + (got > 0 ? static_cast<std::size_t>(got) : 0);
    m_recvBuffer[m_replyLength] = '\0';
    m_replyTrailing = 0;
    Trace({m_recvBuffer.get(), m_replyLength});
}

void SmtpConnection::Close() noexcept {
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
    m_outbox.clear();
    m_dataTraceHold.clear();
    SetState(SessionState::kNoSocket);
    m_dataBytes = 0;
    m_dataBlocks = 0;
}

void SmtpConnection::SetSendText(std::string_view text) {
    if (text.size() > kMaxChunk) {
        throw ECSmtp(ERR_COMMAND_TOO_LONG);
    }
    std::memcpy(m_sendBuffer.get(), text.data(), text.size());
    m_sendBuffer[text.size()] = '\0';
}

void SmtpConnection::Transmit(const SmtpCommandRow& row, std::size_t redactFrom) {
    if (!Usable()) {
        throw ECSmtp(ERR_CONNECTION_CLOSED);
    }
    const std::string_view sentText(m_sendBuffer.get());
    if (row.command == CMD_DATA_END) {
        TraceDataSummary();
    }
    FlushDataTrace();
    try {
        if (m_outbox.empty()) {
            WriteAll(sentText, row);
        } else {
            m_outbox += sentText;
            WriteAll(m_outbox, row);
            m_outbox.clear();
        }
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
    if (redactFrom >= sentText.size()) {
        Trace(sentText);
        return;
    }
    std::string traced(sentText.substr(0, redactFrom));
    traced += kTraceCredentialMarker;
    if (sentText.ends_with("\r\n")) {
        traced += "\r\n";
    }
    Trace(traced);
}

void SmtpConnection::QueueData(std::string_view block) {
    if (!Usable()) {
        throw ECSmtp(ERR_CONNECTION_CLOSED);
    }
    switch (m_dataTrace) {
        case CSmtp::DataTrace::kPerBlock: Trace(block); break;
        case CSmtp::DataTrace::kGrouped:
            m_dataTraceHold += block;
            if (m_dataTraceHold.size() >= kTraceGroup) {
                FlushDataTrace();
            }
            break;
        case CSmtp::DataTrace::kSummary: break;
    }
    m_dataBytes += block.size();
    ++m_dataBlocks;
    m_outbox += block;
    // Whole multiples of the TLS record size; the rest waits for more.
    if (m_outbox.size() >= kOutboxFlush) {
        const std::size_t whole = m_outbox.size() - m_outbox.size() % kOutboxFlush;
        try {
            WriteAll(std::string_view(m_outbox).substr(0, whole), *LookupCommand(CMD_DATA_BLOCK));
        } catch (...) {
            SetState(SessionState::kFailed);
            throw;
        }
        m_outbox.erase(0, whole);
    }
}

void SmtpConnection::FlushDataTrace() {
    if (!m_dataTraceHold.empty()) {
        Trace(m_dataTraceHold);
        m_dataTraceHold.clear();
    }
}

void SmtpConnection::TraceDataSummary() noexcept {
    const std::uint64_t bytes = std::exchange(m_dataBytes, 0);
    const std::uint64_t blocks = std::exchange(m_dataBlocks, 0);
    if (m_dataTrace != CSmtp::DataTrace::kSummary || blocks == 0) {
        return;
    }
    try {
        Trace(DataSummary(bytes, blocks));
    } catch (...) {
        // Only the line's allocation can throw; the summary is lost.
    }
}

void SmtpConnection::FlushData() {
    FlushDataTrace();
    if (m_outbox.empty()) {
        return;
    }
    try {
        WriteAll(m_outbox, *LookupCommand(CMD_DATA_BLOCK));
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
    m_outbox.clear();
}

void SmtpConnection::WriteAll(std::string_view bytes, const SmtpCommandRow& row) {
    if (m_tls->session) {
        WriteTls(bytes, row);
        return;
    }
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        WaitFor(POLLOUT, WaitMillis(row.sendTimeout));
        const ssize_t sent =
            send(m_socket, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent < 0 && WouldBlock(errno)) {
            continue;
        }
        if (sent <= 0) {
            throw ECSmtp(ERR_SEND);
        }
        offset += static_cast<std::size_t>(sent);
    }
}

void SmtpConnection::WriteTls(std::string_view bytes, const SmtpCommandRow& row) {
    SSL* tls = m_tls->session.get();
    std::size_t offset = 0;
    bool wantRead = false;
    const SigpipeGuard noSigpipe;
    while (offset < bytes.size()) {
        WaitFor(wantRead ? POLLIN : POLLOUT, WaitMillis(row.sendTimeout));
        std::size_t written = 0;
        const int result =
            SSL_write_ex(tls, bytes.data() + offset, bytes.size() - offset, &written);
        switch (result == 1 ? SSL_ERROR_NONE : SSL_get_error(tls, result)) {
            case SSL_ERROR_NONE:
                offset += written;
                wantRead = false;
                break;
            case SSL_ERROR_WANT_READ: wantRead = true; break;
            case SSL_ERROR_WANT_WRITE: wantRead = false; break;
            default: ERR_clear_error(); throw ECSmtp(ERR_TLS);
        }
    }
}

int SmtpConnection::ReadReply(const SmtpCommandRow& row) {
    FlushData();  // a reply can only come to what has been sent
    ReplyScanner scanner;
    try {
        // One deadline for the whole reply: a server that trickles bytes
        // keeps every single wait short but must not stretch the reply.
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(WaitMillis(row.recvTimeout));
        for (;;) {
            const std::size_t count = Receive(deadline);
            const ReplyScanner::State state = scanner.Feed({m_recvBuffer.get(), count});
            if (state == ReplyScanner::State::kComplete) {
                break;
            }
            if (state == ReplyScanner::State::kTooLong) {
                throw ECSmtp(ERR_REPLY_TOO_LONG);
            }
        }
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
    // The code is known; a reply longer than the buffer keeps its beginning.
    const std::string& text = scanner.text();
    const std::size_t kept = std::min(text.size(), kMaxChunk);
    std::memcpy(m_recvBuffer.get(), text.data(), kept);
    m_recvBuffer[kept] = '\0';
    m_replyLength = kept;
    m_replyTrailing = scanner.trailing();
    Trace(std::string_view(text).substr(0, kept));
    if (scanner.code() == 421) {
        SetState(SessionState::kFailed);
    }
    return scanner.code();
}

void SmtpConnection::ClearReply() noexcept {
    m_recvBuffer[0] = '\0';
    m_replyLength = 0;
    m_replyTrailing = 0;
}

std::size_t SmtpConnection::Receive(Clock::time_point deadline) {
    if (m_tls->session) {
        return ReceiveTls(deadline);
    }
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            throw ECSmtp(ERR_NOT_RESPONDING);
        }
        WaitFor(POLLIN, static_cast<int>(left.count()));
        const ssize_t got = recv(m_socket, m_recvBuffer.get(), kMaxChunk, 0);
        if (got < 0 && WouldBlock(errno)) {
            continue;
        }
        if (got < 0) {
            throw ECSmtp(ERR_RECV);
        }
        if (got == 0) {
            throw ECSmtp(ERR_CONNECTION_CLOSED);
        }
        return static_cast<std::size_t>(got);
    }
}

std::size_t SmtpConnection::ReceiveTls(Clock::time_point deadline) {
    SSL* tls = m_tls->session.get();
    // Bytes OpenSSL already holds are read without asking the socket: they
    // will never make it readable again.
    bool wait = SSL_pending(tls) == 0 && SSL_has_pending(tls) == 0;
    short events = POLLIN;
    const SigpipeGuard noSigpipe;
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
        const int result = SSL_read_ex(tls, m_recvBuffer.get(), kMaxChunk, &count);
        const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(tls, result);
        if (error == SSL_ERROR_NONE) {
            return count;
        }
        if (error == SSL_ERROR_ZERO_RETURN) {
            throw ECSmtp(ERR_CONNECTION_CLOSED);
        }
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            throw ECSmtp(ERR_TLS);
        }
        events = error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
        wait = true;
    }
}
