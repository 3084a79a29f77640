#include "bench/local_smtp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

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

class LineReader {
  public:
    explicit LineReader(SSL* tls) : m_tls(tls) {}

    // The next line without its CR LF; false at the end of the connection.
    bool Next(std::string& line) {
        for (;;) {
            const std::size_t end = m_pending.find("\r\n");
            if (end != std::string::npos) {
                line.assign(m_pending, 0, end);
                m_pending.erase(0, end + 2);
                return true;
            }
            std::array<char, 4096> chunk{};
            std::size_t got = 0;
            if (m_pending.size() > 65536 ||
                SSL_read_ex(m_tls, chunk.data(), chunk.size(), &got) != 1) {
                return false;
            }
            m_pending.append(chunk.data(), got);
        }
    }

  private:
    SSL* m_tls;
    std::string m_pending;
};

bool Reply(SSL* tls, std::string_view text) {
    std::size_t written = 0;
    return SSL_write_ex(tls, text.data(), text.size(), &written) == 1 && written == text.size();
}

}  // namespace

LocalSmtpServer::LocalSmtpServer(X509* certificate, EVP_PKEY* key, std::string login,
                                 std::string password)
    : m_login(std::move(login)),
      m_password(std::move(password)),
      m_context(SSL_CTX_new(TLS_server_method())) {
    if (!m_context || SSL_CTX_set_min_proto_version(m_context.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate(m_context.get(), certificate) != 1 ||
        SSL_CTX_use_PrivateKey(m_context.get(), key) != 1) {
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
}

std::vector<double> LocalSmtpServer::Take(std::size_t count) {
    std::unique_lock lock(m_mutex);
    if (!m_ended.wait_for(lock, std::chrono::seconds(30),
                          [&] { return m_sessions.size() >= count; })) {
        throw std::runtime_error("local SMTP server: sessions did not end");
    }
    return std::exchange(m_sessions, {});
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
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // A client that stops talking must not hold the server for ever.
        const timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        const bool served = Session(fd);
        close(fd);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (!served) {
            ++m_failures;
        }
        {
            const std::lock_guard lock(m_mutex);
            m_sessions.push_back(took.count());
        }
        m_ended.notify_all();
    }
}

bool LocalSmtpServer::Session(int fd) {
    const std::unique_ptr<SSL, SslFree> owned(SSL_new(m_context.get()));
    SSL* tls = owned.get();
    if (tls == nullptr || SSL_set_fd(tls, fd) != 1 || SSL_accept(tls) != 1 ||
        !Reply(tls, "220 bench.invalid ESMTP ready\r\n")) {
        return false;
    }
    LineReader reader(tls);
    std::string line;
    bool authenticated = false;
    bool awaitingPlain = false;
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
        } else if (StartsWithNoCase(line, "QUIT")) {
            Reply(tls, "221 2.0.0 Bye\r\n");
            SSL_shutdown(tls);
            return authenticated;
        } else {
            sent = Reply(tls, "502 5.5.2 Command not implemented\r\n");
        }
        if (!sent) {
            return false;
        }
    }
    return false;
}
