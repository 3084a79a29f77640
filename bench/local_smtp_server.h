// An SMTP server over TLS from the start, listening on 127.0.0.1 in a thread
// of the calling process, for the session and mail benchmarks. It serves one
// connection at a time and answers the greeting (220), EHLO (250, offering
// AUTH PLAIN), AUTH PLAIN with or without an initial response (235 for the
// one account, else 535), NOOP (250), MAIL FROM and RCPT TO (250 to any
// address), DATA (354, then it reads the message up to the line "." and
// answers 250) and QUIT (221, then it closes); anything else gets 502. Each
// reply goes out in one TLS record.
//
// With Security::kStartTls it is a submission port of the other kind: it
// greets in clear text, offers STARTTLS (and no AUTH) in its EHLO reply,
// answers every other command but QUIT with 530 until STARTTLS, and then
// serves as above without a second greeting (RFC 3207). A client that
// begins with a TLS handshake instead (its first byte a handshake record)
// meets the plain greeting; the server waits for it to close and counts
// that connection in TlsFirstConnections(), not as a session.
//
// It writes to the connection as common mail servers do (Postfix among
// them): Nagle's algorithm stays on (no TCP_NODELAY), and over TLS 1.3 it
// sends one session ticket on its own, after the handshake and before the
// greeting. The greeting then waits in the kernel until the client
// acknowledges the ticket's segment, so a client that delays that ACK
// (Linux's delayed ACK, some 40 ms) waits as long for the greeting, exactly
// as against such a server.
//
// It times every session from accept() to close(), so that a client's own
// time per session can be set beside the server's, and counts the message
// bytes each session delivered, so that a benchmark can check that a client
// carried the whole message.
#pragma once

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LocalSmtpServer {
  public:
    struct Session {
        double millis = 0;  // accept() to close()
        // Messages the server answered with 250 after their end of data.
        std::size_t messages = 0;
        // Bytes of those messages as delivered: every line with its CR LF,
        // dot-stuffing undone, the line "." that ends the data left out.
        std::uint64_t messageBytes = 0;
        // The part of messageBytes after the empty line that ends a header.
        std::uint64_t bodyBytes = 0;
    };

    enum class Security { kTlsFromStart, kStartTls };

    // Starts listening on an ephemeral port of 127.0.0.1 and serving.
    // Throws std::runtime_error when the socket or the TLS context fails.
    LocalSmtpServer(X509* certificate, EVP_PKEY* key, std::string login, std::string password,
                    Security security = Security::kTlsFromStart);
    // Stops accepting and waits for the serving thread.
    ~LocalSmtpServer();

    LocalSmtpServer(const LocalSmtpServer&) = delete;
    LocalSmtpServer& operator=(const LocalSmtpServer&) = delete;

    std::uint16_t port() const noexcept { return m_port; }

    // Forgets the sessions recorded so far and the TLS-first connections.
    void Reset();
    // Waits until at least count sessions have ended since the last Reset or
    // Take (at most 30 s, then throws std::runtime_error), and returns the
    // durations of all of them in milliseconds, in order.
    std::vector<double> Take(std::size_t count);
    // The same, with what each session delivered.
    std::vector<Session> TakeSessions(std::size_t count);
    // While on, the server keeps the bytes of the last message delivered (as
    // counted in messageBytes), for LastMessage. Off at the start.
    void KeepMessages(bool keep);
    std::string LastMessage();
    // Sessions that ended without both a 235 and a QUIT, since the start.
    std::size_t failures() const noexcept { return m_failures.load(); }
    // kStartTls: connections begun with a TLS handshake, which met the plain
    // greeting, since the last Reset.
    std::size_t TlsFirstConnections() const noexcept { return m_tlsFirst.load(); }

  private:
    struct SslCtxFree {
        void operator()(SSL_CTX* context) const noexcept { SSL_CTX_free(context); }
    };

    enum class Outcome { kServed, kFailed, kTlsFirst };

    void Serve();
    // One connection; kServed when it authenticated and said QUIT.
    Outcome ServeConnection(int fd, Session& record);

    std::string m_login;
    std::string m_password;
    std::unique_ptr<SSL_CTX, SslCtxFree> m_context;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    Security m_security;
    std::atomic<std::size_t> m_failures{0};
    std::atomic<std::size_t> m_tlsFirst{0};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::vector<Session> m_sessions;  // guarded by m_mutex
    std::atomic<bool> m_keepMessages{false};
    std::string m_lastMessage;  // guarded by m_mutex
    std::thread m_thread;
};
