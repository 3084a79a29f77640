// The channel: moving the two buffers' text over the socket, plain or TLS,
// with every wait bounded, and the TLS life cycle.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "smtp/smtp.h"
#include "smtp/socket_io.h"
#include "smtp/tls_state.h"

namespace {

constexpr std::size_t kMaxChunk = kSmtpBufferSize - 1;  // room for the NUL
constexpr int kTlsChunk = 1024;
// Held data blocks are written in pieces of this size: large writes, and
// four full TLS records each.
constexpr std::size_t kOutboxFlush = std::size_t{64} * 1024;
// Grouped data blocks are traced once they reach this size.
constexpr std::size_t kTraceGroup = 4096;

// One bounded wait; 109 when it fails, 402 when it runs out, 419 when the
// owner aborts.
short WaitOrRaise(int fd, short events, int millis, int abortFd) {
    short revents = 0;
    switch (WaitForSocket(fd, events, millis, &revents, abortFd)) {
        case WaitResult::kFailed: throw ECSmtp(ERR_SELECT);
        case WaitResult::kTimeout: throw ECSmtp(ERR_NOT_RESPONDING);
        case WaitResult::kAborted: throw ECSmtp(ERR_CANCELLED);
        case WaitResult::kReady: break;
    }
    return revents;
}

// SNI (RFC 6066); the macro for it carries a C cast.
bool SendServerName(SSL* tls, const char* name) {
    return SSL_ctrl(tls, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                    const_cast<char*>(name)) == 1;
}

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace

bool CSmtp::UsesTls() const noexcept {
    return m_tlsState->tls != nullptr;
}

void CSmtp::SetSendText(std::string_view text) {
    if (text.size() > kSmtpBufferSize - 1) {
        throw ECSmtp(ERR_COMMAND_TOO_LONG);
    }
    std::memcpy(m_sendBuffer.get(), text.data(), text.size());
    m_sendBuffer[text.size()] = '\0';
}

void CSmtp::Transmit(const SmtpCommandSpec& row, std::size_t redactFrom) {
    if (!m_sendBuffer) {
        throw ECSmtp(ERR_NO_SEND_BUFFER);
    }
    const std::string_view sentText(m_sendBuffer.get());
    FlushDataTrace();
    if (m_outbox.empty()) {
        WriteAll(sentText, row);
    } else {
        m_outbox += sentText;
        WriteAll(m_outbox, row);
        m_outbox.clear();
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

void CSmtp::QueueData(std::string_view block) {
    if (m_dataTrace == DataTrace::kGrouped) {
        m_dataTraceHold += block;
        if (m_dataTraceHold.size() >= kTraceGroup) {
            FlushDataTrace();
        }
    } else {
        Trace(block);
    }
    m_outbox += block;
    // Whole multiples of the TLS record size; the rest waits for more.
    if (m_outbox.size() >= kOutboxFlush) {
        const std::size_t whole = m_outbox.size() - m_outbox.size() % kOutboxFlush;
        WriteAll(std::string_view(m_outbox).substr(0, whole), *LookupCommand(CMD_DATA_BLOCK));
        m_outbox.erase(0, whole);
    }
}

void CSmtp::FlushDataTrace() {
    if (!m_dataTraceHold.empty()) {
        Trace(m_dataTraceHold);
        m_dataTraceHold.clear();
    }
}

void CSmtp::FlushData() {
    FlushDataTrace();
    if (m_outbox.empty()) {
        return;
    }
    WriteAll(m_outbox, *LookupCommand(CMD_DATA_BLOCK));
    m_outbox.clear();
}

void CSmtp::WriteAll(std::string_view bytes, const SmtpCommandSpec& row) {
    if (UsesTls()) {
        TransmitTls(bytes, row);
        return;
    }
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        WaitOrRaise(m_socket, POLLOUT, WaitMillis(row.sendTimeout), AbortDescriptor());
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

void CSmtp::TransmitTls(std::string_view bytes, const SmtpCommandSpec& row) {
    SSL* tls = m_tlsState->tls.get();
    std::size_t offset = 0;
    bool wantRead = false;
    const SigpipeGuard noSigpipe;
    while (offset < bytes.size()) {
        const short events = wantRead ? POLLIN : POLLOUT;
        WaitOrRaise(m_socket, events, WaitMillis(row.sendTimeout), AbortDescriptor());
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

std::size_t CSmtp::Receive(const SmtpCommandSpec& row) {
    if (!m_recvBuffer) {
        throw ECSmtp(ERR_NO_RECV_BUFFER);
    }
    if (UsesTls()) {
        return ReceiveTls(row);
    }
    for (;;) {
        WaitOrRaise(m_socket, POLLIN, WaitMillis(row.recvTimeout), AbortDescriptor());
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
        m_recvBuffer[static_cast<std::size_t>(got)] = '\0';
        return static_cast<std::size_t>(got);
    }
}

std::size_t CSmtp::ReceiveTls(const SmtpCommandSpec& row) {
    SSL* tls = m_tlsState->tls.get();
    std::size_t total = 0;
    bool wantWrite = false;
    // Bytes OpenSSL already holds are read without asking the socket: they
    // will never make it readable again.
    bool wait = SSL_pending(tls) == 0 && SSL_has_pending(tls) == 0;
    std::array<char, kTlsChunk> chunk{};
    const SigpipeGuard noSigpipe;
    for (;;) {
        if (wait) {
            WaitOrRaise(m_socket, wantWrite ? POLLOUT : POLLIN, WaitMillis(row.recvTimeout),
                        AbortDescriptor());
        }
        std::size_t count = 0;
        const int result = SSL_read_ex(tls, chunk.data(), chunk.size(), &count);
        const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(tls, result);
        if (error == SSL_ERROR_NONE) {
            if (total + count > kMaxChunk) {
                throw ECSmtp(ERR_NO_MEMORY);
            }
            std::memcpy(m_recvBuffer.get() + total, chunk.data(), count);
            total += count;
            if (SSL_pending(tls) == 0) {
                break;
            }
            wait = false;
        } else if (error == SSL_ERROR_ZERO_RETURN) {
            break;
        } else if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            wantWrite = error == SSL_ERROR_WANT_WRITE;
            wait = true;
        } else {
            ERR_clear_error();
            throw ECSmtp(ERR_TLS);
        }
    }
    m_recvBuffer[total] = '\0';
    if (total == 0) {
        throw ECSmtp(ERR_CONNECTION_CLOSED);
    }
    return total;
}

void CSmtp::InitTls() {
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
    m_tlsState->context = std::move(context);
}

void CSmtp::TlsHandshake() {
    if (!m_tlsState->context) {
        throw ECSmtp(ERR_TLS);
    }
    UniqueSsl tls(SSL_new(m_tlsState->context.get()));
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
    short events = 0;
    const SigpipeGuard noSigpipe;
    for (;;) {
        if (events != 0) {
            WaitOrRaise(m_socket, events, WaitMillis(kConnectTimeout), AbortDescriptor());
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
            ERR_clear_error();
            throw ECSmtp(ERR_TLS);
        }
    }
    if (SSL_get_verify_result(tls.get()) != X509_V_OK) {
        throw ECSmtp(ERR_TLS);
    }
    m_tlsState->tls = std::move(tls);
}

void CSmtp::ReleaseTls() noexcept {
    m_tlsState->tls.reset();
    m_tlsState->context.reset();
}

void CSmtp::CloseSocket() noexcept {
    if (m_socket < 0) {
        return;
    }
    if (m_tlsState->tls) {
        // close_notify goes out while the descriptor is still ours; later the
        // number may belong to another file.
        const SigpipeGuard noSigpipe;
        SSL_shutdown(m_tlsState->tls.get());
        ERR_clear_error();
    }
    close(m_socket);
    m_socket = -1;
    m_outbox.clear();
    m_dataTraceHold.clear();
    m_inData = false;
    m_capabilities = {};
    // The connection is gone, so is its TLS session: a later connection on
    // this object must not write through it.
    m_tlsState->tls.reset();
}
