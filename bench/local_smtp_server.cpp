#include "bench/local_smtp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "codec/base64.h"

namespace {

struct SslFree {
    void operator()(SSL* tls) const noexcept { SSL_free(tls); }
};

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = line[i];
        const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != prefix[i]) {
            return false;
        }
    }
    return true;
}

// RFC 4616: authzid NUL authcid NUL passwd; any authzid is taken.
bool PlainMatches(std::string_view encoded, const std::string& login, const std::string& password) {
    const std::string message = Base64Decode(encoded);
    const std::size_t first = message.find('\0');
    if (first == std::string::npos) {
        return false;
    }
    const std::size_t second = message.find('\0', first + 1);
    return second != std::string::npos &&
           message.compare(first + 1, second - first - 1, login) == 0 &&
           message.compare(second + 1, std::string::npos, password) == 0;
}

// Lines of a TLS stream, or of the plain socket fd when tls is null. A mail
// of many short lines comes in records of 16 KiB, so the reader takes whole
// records and moves past each line instead of erasing it: the server must
// keep pace with the fastest client.
class LineReader {
  public:
    explicit LineReader(SSL* tls, int fd = -1) : m_tls(tls), m_fd(fd) {}

    // The next line without its CR LF, valid until the next call; false at
    // the end of the connection or for a line of more than 64 KiB.
    bool Next(std::string_view& line) {
        for (;;) {
            const std::size_t end = m_pending.find("\r\n", m_scan);
            if (end != std::string::npos) {
                line = std::string_view(m_pending).substr(m_start, end - m_start);
                m_start = end + 2;
                m_scan = m_start;
                return true;
            }
            // Only a CR at the very end may still begin the CR LF.
            m_scan = std::max(m_start, m_pending.empty() ? 0 : m_pending.size() - 1);
            if (m_pending.size() - m_start > 65536) {
                return false;
            }
            m_pending.erase(0, m_start);
            m_scan -= m_start;
            m_start = 0;
            const std::size_t kept = m_pending.size();
            m_pending.resize(kept + kChunk);
            std::size_t got = 0;
            if (m_tls != nullptr) {
                if (SSL_read_ex(m_tls, m_pending.data() + kept, kChunk, &got) != 1) {
                    return false;
                }
            } else {
                const ssize_t read = recv(m_fd, m_pending.data() + kept, kChunk, 0);
                if (read <= 0) {
                    return false;
                }
                got = static_cast<std::size_t>(read);
            }
            m_pending.resize(kept + got);
        }
    }

  private:
    static constexpr std::size_t kChunk = 16384;  // one whole TLS record

    SSL* m_tls;
    int m_fd;
    std::string m_pending;
    std::size_t m_start = 0;  // where the next line begins
    std::size_t m_scan = 0;   // where the search for its CR LF goes on
};

// Over TLS 1.3, writes one session ticket in a write of its own (the
// context sends none by itself); nothing to do for TLS 1.2. False when the
// write fails.
bool SendTicket(SSL* tls) {
    return SSL_version(tls) != TLS1_3_VERSION ||
           (SSL_new_session_ticket(tls) == 1 && SSL_do_handshake(tls) == 1);
}

bool Reply(SSL* tls, std::string_view text) {
    std::size_t written = 0;
    return SSL_write_ex(tls, text.data(), text.size(), &written) == 1 && written == text.size();
}

bool PlainReply(int fd, std::string_view text) {
    return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

constexpr std::string_view kGreeting = "220 bench.invalid ESMTP ready\r\n";

enum class PlainEnd { kUpgraded, kTlsFirst, kFailed };

// The clear-text part of a STARTTLS port: the greeting, EHLO and STARTTLS,
// then the handshake over fd and the ticket.
PlainEnd ServeUntilStartTls(int fd, SSL* tls) {
    if (!PlainReply(fd, kGreeting)) {
        return PlainEnd::kFailed;
    }
    // RFC 8446 5.1: a TLS connection begins with a record of content type
    // handshake (22), which no SMTP command begins with.
    unsigned char first = 0;
    if (recv(fd, &first, 1, MSG_PEEK) != 1) {
        return PlainEnd::kFailed;
    }
    if (first == 22) {
        std::array<char, 4096> ignored{};
        while (recv(fd, ignored.data(), ignored.size(), 0) > 0) {
        }
        return PlainEnd::kTlsFirst;
    }
    LineReader reader(nullptr, fd);
    std::string_view line;
    while (reader.Next(line)) {
        bool sent = false;
        if (StartsWithNoCase(line, "EHLO ")) {
            sent = PlainReply(fd, "250-bench.invalid\r\n250-STARTTLS\r\n250 8BITMIME\r\n");
        } else if (StartsWithNoCase(line, "STARTTLS") && line.size() == 8) {
            // RFC 3207 4: "After receiving a 220 response to a STARTTLS
            // command, the client MUST start the TLS negotiation before
            // giving any other SMTP commands", so the reader holds nothing.
            return PlainReply(fd, "220 2.0.0 Ready to start TLS\r\n") && SSL_accept(tls) == 1 &&
                           SendTicket(tls)
                       ? PlainEnd::kUpgraded
                       : PlainEnd::kFailed;
        } else if (StartsWithNoCase(line, "QUIT")) {
            PlainReply(fd, "221 2.0.0 Bye\r\n");
            return PlainEnd::kFailed;
        } else {
            sent = PlainReply(fd, "530 5.7.0 Must issue a STARTTLS command first\r\n");
        }
        if (!sent) {
            return PlainEnd::kFailed;
        }
    }
    return PlainEnd::kFailed;
}

// Reads a message after the 354 up to the line "." and counts it into
// record; keeps its bytes in kept when that is not null. False when the
// connection ends first.
bool ReadMessage(LineReader& reader, LocalSmtpServer::Session& record, std::string* kept) {
    bool inHeader = true;
    std::uint64_t bytes = 0;
    std::uint64_t bodyBytes = 0;
    std::string_view line;
    while (reader.Next(line)) {
        if (line == ".") {
            ++record.messages;
            record.messageBytes += bytes;
            record.bodyBytes += bodyBytes;
            return true;
        }
        if (line.starts_with('.')) {
            line.remove_prefix(1);  // RFC 5321, 4.5.2
        }
        bytes += line.size() + 2;
        if (!inHeader) {
            bodyBytes += line.size() + 2;
        }
        inHeader = inHeader && !line.empty();
        if (kept != nullptr) {
            kept->append(line);
            kept->append("\r\n");
        }
    }
    return false;
}

}  // namespace

LocalSmtpServer::LocalSmtpServer(X509* certificate, EVP_PKEY* key, std::string login,
                                 std::string password, Security security)
    : m_login(std::move(login)),
      m_password(std::move(password)),
      m_context(SSL_CTX_new(TLS_server_method())),
      m_security(security) {
    if (!m_context || SSL_CTX_set_min_proto_version(m_context.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate(m_context.get(), certificate) != 1 ||
        SSL_CTX_use_PrivateKey(m_context.get(), key) != 1 ||
        // Tickets go out one at a time, before the greeting (SendTicket).
        SSL_CTX_set_num_tickets(m_context.get(), 0) != 1) {
        throw std::runtime_error("local SMTP server: TLS context refused");
    }
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int on = 1;
    if (m_listener < 0 || setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 16) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (m_listener >= 0) {
            close(m_listener);
        }
        throw std::runtime_error("local SMTP server: cannot listen on 127.0.0.1");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

LocalSmtpServer::~LocalSmtpServer() {
    m_stopping = true;
    // Wakes the blocked accept(): it fails once the listener is shut down.
    shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    close(m_listener);
}

void LocalSmtpServer::Reset() {
    const std::lock_guard lock(m_mutex);
    m_sessions.clear();
    m_tlsFirst = 0;
}

std::vector<double> LocalSmtpServer::Take(std::size_t count) {
    std::vector<double> millis;
    for (const Session& session : TakeSessions(count)) {
        millis.push_back(session.millis);
    }
    return millis;
}

std::vector<LocalSmtpServer::Session> LocalSmtpServer::TakeSessions(std::size_t count) {
    std::unique_lock lock(m_mutex);
    if (!m_ended.wait_for(lock, std::chrono::seconds(30),
                          [&] { return m_sessions.size() >= count; })) {
        throw std::runtime_error("local SMTP server: sessions did not end");
    }
    return std::exchange(m_sessions, {});
}

void LocalSmtpServer::KeepMessages(bool keep) {
    m_keepMessages = keep;
}

std::string LocalSmtpServer::LastMessage() {
    const std::lock_guard lock(m_mutex);
    return m_lastMessage;
}

void LocalSmtpServer::Serve() {
    while (!m_stopping) {
        const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;  // shut down (or broken): nothing more to serve
        }
        const auto start = std::chrono::steady_clock::now();
        // A client that stops talking must not hold the server for ever.
        const timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        Session record;
        const Outcome outcome = ServeConnection(fd, record);
        close(fd);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (outcome == Outcome::kTlsFirst) {
            ++m_tlsFirst;
            continue;
        }
        if (outcome == Outcome::kFailed) {
            ++m_failures;
        }
        record.millis = took.count();
        {
            const std::lock_guard lock(m_mutex);
            m_sessions.push_back(record);
        }
        m_ended.notify_all();
    }
}

LocalSmtpServer::Outcome LocalSmtpServer::ServeConnection(int fd, Session& record) {
    const std::unique_ptr<SSL, SslFree> owned(SSL_new(m_context.get()));
    SSL* tls = owned.get();
    if (tls == nullptr || SSL_set_fd(tls, fd) != 1) {
        return Outcome::kFailed;
    }
    if (m_security == Security::kStartTls) {
        const PlainEnd plain = ServeUntilStartTls(fd, tls);
        if (plain != PlainEnd::kUpgraded) {
            return plain == PlainEnd::kTlsFirst ? Outcome::kTlsFirst : Outcome::kFailed;
        }
    } else if (SSL_accept(tls) != 1 || !SendTicket(tls) || !Reply(tls, kGreeting)) {
        return Outcome::kFailed;
    }
    LineReader reader(tls);
    std::string_view line;
    bool authenticated = false;
    bool awaitingPlain = false;
    std::string message;
    while (reader.Next(line)) {
        bool sent = false;
        if (awaitingPlain) {
            awaitingPlain = false;
            authenticated = PlainMatches(line, m_login, m_password);
            sent = Reply(tls, authenticated ? "235 2.7.0 Authentication successful\r\n"
                                            : "535 5.7.8 Authentication credentials invalid\r\n");
        } else if (StartsWithNoCase(line, "EHLO ")) {
            sent = Reply(tls, "250-bench.invalid\r\n250-AUTH PLAIN\r\n250 8BITMIME\r\n");
        } else if (StartsWithNoCase(line, "AUTH PLAIN ")) {
            authenticated = PlainMatches(std::string_view(line).substr(11), m_login, m_password);
            sent = Reply(tls, authenticated ? "235 2.7.0 Authentication successful\r\n"
                                            : "535 5.7.8 Authentication credentials invalid\r\n");
        } else if (StartsWithNoCase(line, "AUTH PLAIN")) {
            awaitingPlain = true;
            sent = Reply(tls, "334 \r\n");
        } else if (StartsWithNoCase(line, "NOOP")) {
            sent = Reply(tls, "250 2.0.0 OK\r\n");
        } else if (StartsWithNoCase(line, "MAIL FROM:")) {
            sent = Reply(tls, "250 2.1.0 OK\r\n");
        } else if (StartsWithNoCase(line, "RCPT TO:")) {
            sent = Reply(tls, "250 2.1.5 OK\r\n");
        } else if (StartsWithNoCase(line, "DATA") && line.size() == 4) {
            if (!Reply(tls, "354 End data with <CR><LF>.<CR><LF>\r\n") ||
                !ReadMessage(reader, record, m_keepMessages ? &message : nullptr)) {
                return Outcome::kFailed;
            }
            if (m_keepMessages) {
                const std::lock_guard lock(m_mutex);
                m_lastMessage = std::move(message);
            }
            message.clear();
            sent = Reply(tls, "250 2.0.0 OK: queued\r\n");
        } else if (StartsWithNoCase(line, "QUIT")) {
            Reply(tls, "221 2.0.0 Bye\r\n");
            SSL_shutdown(tls);
            return authenticated ? Outcome::kServed : Outcome::kFailed;
        } else {
            sent = Reply(tls, "502 5.5.2 Command not implemented\r\n");
        }
        if (!sent) {
            return Outcome::kFailed;
        }
    }
    return Outcome::kFailed;
}
