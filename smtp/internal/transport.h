// The byte stream under the client: name lookup and connect, TLS set-up
// and verification over the socket, and one write and one read path for
// plain TCP and TLS alike, every wait bounded and woken by the owner's
// abort. It knows nothing of SMTP.
//
// Private to smtp/.
#pragma once

#include <openssl/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "smtp/client_hooks.h"
#include "smtp/smtp_abort.h"
#include "smtp/tls_report.h"

struct HandshakeNotes;  // smtp/internal/handshake_report.h

class SmtpTransport {
  public:
    using Clock = std::chrono::steady_clock;

    SmtpTransport();
    ~SmtpTransport();

    SmtpTransport(const SmtpTransport&) = delete;
    SmtpTransport& operator=(const SmtpTransport&) = delete;

    // Caps every wait at limit (zero: no cap).
    void SetWaitLimit(std::chrono::milliseconds limit) noexcept { m_waitLimit = limit; }
    void SetAbort(std::shared_ptr<const SmtpAbort> abort) noexcept { m_abort = std::move(abort); }
    void SetConnectTo(std::optional<SmtpEndpoint> target) { m_connectTo = std::move(target); }

    // Opens a TCP connection to host (dotted IPv4 or a name, its first IPv4
    // address) on port (0: the services database's "mail" port, else 25);
    // to the SetConnectTo target instead when there is one (host is still
    // the name TLS checks). Closes any connection first. Codes: 111 refused
    // (at once or during the wait), 104 any other connect error, 105, 106,
    // 108, 109 (the wait itself failed), 403, 419. The socket may stay open
    // after a failure; Close releases it.
    void Connect(const char* host, std::uint16_t port);
    // TLS over the open socket, verifying the host given to Connect. 414 TLS
    // or verification; 420 when first (the handshake is the connection's
    // first exchange) and the server answered it with an SMTP reply, whose
    // bytes OpenSSL took are then PlainReplyStart(); 402, 109, 419 waits. A
    // failed handshake (414, 420 after the exchange began) fills the TLS
    // report and sets HandshakeFailed().
    void StartTls(bool first);
    const TlsReport& GetTlsReport() const noexcept { return m_tlsReport; }
    void ClearTlsReport() noexcept { m_tlsReport = {}; }
    bool HandshakeFailed() const noexcept { return m_handshakeFailed; }
    std::string_view PlainReplyStart() const noexcept { return m_plainReplyStart; }

    // Writes all of bytes, each wait at most timeoutSeconds (capped by the
    // wait limit). 102 (plain) or 414 (TLS) when the write fails, 402, 109,
    // 419 waits, 400 without a socket.
    void Write(std::string_view bytes, std::int32_t timeoutSeconds);
    // Reads one chunk of at least one byte into buffer, waiting no later
    // than deadline (402). 400 when the server closed the connection, 103
    // (plain) or 414 (TLS) when the read fails, 109, 419 waits.
    std::size_t Read(std::span<char> buffer, Clock::time_point deadline);
    // What has already arrived on the plain socket, without waiting; 0 when
    // nothing has.
    std::size_t ReadArrived(std::span<char> buffer) noexcept;
    // Now plus timeoutSeconds, capped by the wait limit.
    Clock::time_point DeadlineAfter(std::int32_t timeoutSeconds) const noexcept;

    // Sends TLS close_notify when TLS is up and closes the socket. Keeps
    // the TLS report.
    void Close() noexcept;
    bool HasSocket() const noexcept { return m_socket >= 0; }
    // The dotted IPv4 address the socket is connected to; empty when unknown.
    std::string PeerAddress() const;

  private:
    struct Tls;
    enum class Progress : std::uint8_t { kDone, kWantRead, kWantWrite };

    void OpenSocket(const char* host, std::uint16_t port);
    void Handshake(bool first);
    [[noreturn]] void FailHandshake(const SSL* tls, const HandshakeNotes& notes, bool first);
    // One attempt at the stream, plain or TLS; *count gets the bytes moved
    // when kDone. Raise the stream's own failure codes.
    Progress TryWrite(std::string_view bytes, std::size_t* count);
    Progress TryRead(std::span<char> buffer, std::size_t* count);
    short WaitFor(short events, int millis);
    int WaitMillis(std::int32_t seconds) const noexcept;

    int m_socket = -1;
    std::unique_ptr<Tls> m_tls;
    std::string m_peerName;  // checked against the server's certificate
    TlsReport m_tlsReport;
    bool m_handshakeFailed = false;
    std::string m_plainReplyStart;
    std::chrono::milliseconds m_waitLimit{0};
    std::shared_ptr<const SmtpAbort> m_abort;
    std::optional<SmtpEndpoint> m_connectTo;  // tests: where Connect goes instead
};
