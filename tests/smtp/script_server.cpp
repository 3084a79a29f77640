#include "tests/smtp/script_server.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>

namespace {

struct SslDeleter {
    void operator()(SSL* tls) const { SSL_free(tls); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

// The port of fd's own end, or of its far end; network order, 0 if none.
std::uint16_t PortOf(int fd, bool peer = false) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    const int got = peer ? getpeername(fd, generic, &length) : getsockname(fd, generic, &length);
    return got == 0 && address.sin_family == AF_INET ? address.sin_port : 0;
}

// The client runs in this process, so the far end of the server's
// connection is one of our own descriptors; on 127.0.0.1 the two ports
// alone tell it apart.
int FindClientSocket(int serverSide) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ignored)) {
        const int fd = std::stoi(entry.path().filename());
        if (PortOf(fd) == PortOf(serverSide, true) && PortOf(fd, true) == PortOf(serverSide)) {
            return fd;
        }
    }
    return -1;
}

struct Connection {
    int fd;
    std::unique_ptr<SSL_CTX, SslDeleter> context;
    std::unique_ptr<SSL, SslDeleter> tls;
    std::string pending;  // bytes read after the last line taken
    int client = -2;      // the client's own descriptor; -2: not looked up yet

    bool Write(const std::string& bytes) {
        const long sent = tls ? SSL_write(tls.get(), bytes.data(), static_cast<int>(bytes.size()))
                              : send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        return sent == static_cast<long>(bytes.size());
    }

    // The next line, CR LF included; at the end of the stream whatever is
    // left, so empty once everything has been taken.
    std::string TakeLine() {
        std::size_t end;
        while ((end = pending.find("\r\n")) == std::string::npos) {
            char chunk[16384];
            const long got =
                tls ? SSL_read(tls.get(), chunk, sizeof chunk) : recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return std::exchange(pending, {});
            }
            pending.append(chunk, static_cast<std::size_t>(got));
        }
        std::string line = pending.substr(0, end + 2);
        pending.erase(0, end + 2);
        return line;
    }

    // Returns once the client has read everything sent so far: nothing left
    // unacknowledged here and nothing waiting in the client's socket (a
    // client that gives up closes it, which ends the wait too).
    bool WaitUntilClientRead() {
        if (client == -2) {
            client = FindClientSocket(fd);
        }
        int unacknowledged = 0;
        int unread = 0;
        while (ioctl(fd, SIOCOUTQ, &unacknowledged) == 0) {
            if (client < 0 || ioctl(client, FIONREAD, &unread) != 0) {
                unread = 0;
            }
            if (unacknowledged == 0 && unread == 0) {
                return true;
            }
            std::this_thread::yield();
        }
        return false;
    }

    // Takes one chunk of whatever the client sends; false once it has gone.
    bool Await() {
        char chunk[16384];
        return recv(fd, chunk, sizeof chunk, 0) > 0;
    }

    bool Handshake(const std::string& certificate, const std::string& key, int maxVersion) {
        context.reset(SSL_CTX_new(TLS_server_method()));
        if (maxVersion != 0) {
            SSL_CTX_set_security_level(context.get(), 0);
            SSL_CTX_set_cipher_list(context.get(), "DEFAULT:@SECLEVEL=0");
            SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION);
            SSL_CTX_set_max_proto_version(context.get(), maxVersion);
        }
        tls.reset(SSL_new(context.get()));
        if (SSL_use_certificate_chain_file(tls.get(), certificate.c_str()) == 1 &&
            SSL_use_PrivateKey_file(tls.get(), key.c_str(), SSL_FILETYPE_PEM) == 1 &&
            SSL_set_fd(tls.get(), fd) == 1 && SSL_accept(tls.get()) == 1) {
            return true;
        }
        ERR_clear_error();
        tls.reset();
        return false;
    }
};

}  // namespace

ScriptStep Say(std::string bytes) {
    return {ScriptStep::Kind::kSay, {std::move(bytes)}};
}
ScriptStep SayInChunks(std::vector<std::string> chunks) {
    return {ScriptStep::Kind::kSay, std::move(chunks)};
}
ScriptStep Trickle(std::string bytes, std::chrono::milliseconds pace) {
    return {ScriptStep::Kind::kTrickle, {std::move(bytes)}, pace};
}
ScriptStep Hear(std::string line, std::string reply) {
    return {ScriptStep::Kind::kHear, {std::move(line), std::move(reply)}};
}
ScriptStep HearData(std::string reply) {
    return {ScriptStep::Kind::kHearData, {std::move(reply)}};
}
ScriptStep StartTls() {
    return {ScriptStep::Kind::kStartTls, {}};
}
ScriptStep StartTlsUpTo(int maxVersion) {
    return {ScriptStep::Kind::kStartTls, {}, {}, maxVersion};
}
ScriptStep Await() {
    return {ScriptStep::Kind::kAwait, {}};
}
ScriptStep Close() {
    return {ScriptStep::Kind::kClose, {}};
}
ScriptStep NextConnection() {
    return {ScriptStep::Kind::kAcceptNext, {}};
}

ScriptServer::ScriptServer(std::vector<ScriptStep> script, std::string certificate, std::string key)
    : m_script(std::move(script)), m_certificate(std::move(certificate)), m_key(std::move(key)) {
    // A TLS write to a client that has gone must fail, not end the test.
    signal(SIGPIPE, SIG_IGN);
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_listener < 0 ||
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 1) != 0) {
        throw std::runtime_error("script server cannot listen");
    }
    m_port = ntohs(PortOf(m_listener));
    m_thread = std::thread([this] { Run(); });
}

ScriptServer::~ScriptServer() {
    shutdown(m_listener, SHUT_RDWR);  // ends an accept still waiting
    if (m_thread.joinable()) {
        m_thread.join();
    }
    close(m_listener);
}

std::vector<std::string> ScriptServer::Heard() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_heard;
}

std::vector<std::string> ScriptServer::Expected() const {
    std::vector<std::string> lines;
    for (const ScriptStep& step : m_script) {
        if (step.kind == ScriptStep::Kind::kHear) {
            lines.push_back(step.bytes.front());
        }
    }
    return lines;
}

void ScriptServer::Run(std::size_t first) {
    const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A client that hangs ends the script instead of the whole test run; far
    // above anything a passing test needs.
    const timeval patience{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    Connection connection{fd, nullptr, nullptr, {}};
    bool recordRest = true;  // false once the server has ended the exchange
    std::size_t after = 0;   // the step after a NextConnection
    for (std::size_t at = first; at < m_script.size() && after == 0; ++at) {
        const ScriptStep& step = m_script[at];
        bool next = true;
        switch (step.kind) {
            case ScriptStep::Kind::kSay:
                for (std::size_t i = 0; next && i < step.bytes.size(); ++i) {
                    next = (i == 0 || connection.WaitUntilClientRead()) &&
                           connection.Write(step.bytes[i]);
                }
                break;
            case ScriptStep::Kind::kHear: {
                std::string line = connection.TakeLine();
                next = !line.empty();
                if (next) {
                    m_heard.push_back(std::move(line));
                    next = step.bytes[1].empty() || connection.Write(step.bytes[1]);
                }
                break;
            }
            case ScriptStep::Kind::kHearData: {
                std::string line;
                while (line != ".\r\n" && !(line = connection.TakeLine()).empty()) {
                    m_heard.push_back(line);
                }
                next = line == ".\r\n" && connection.Write(step.bytes[0]);
                break;
            }
            case ScriptStep::Kind::kStartTls:
                // What follows a failed handshake is not SMTP.
                next = recordRest = connection.Handshake(m_certificate, m_key, step.tlsMaxVersion);
                break;
            case ScriptStep::Kind::kAwait: next = connection.Await(); break;
            case ScriptStep::Kind::kClose: next = recordRest = false; break;
            case ScriptStep::Kind::kTrickle:
                for (std::size_t i = 0; next && i < step.bytes[0].size(); ++i) {
                    std::this_thread::sleep_for(step.pace);
                    next = connection.Write(step.bytes[0].substr(i, 1));
                }
                break;
            case ScriptStep::Kind::kAcceptNext: after = at + 1; break;
        }
        if (!next) {
            break;
        }
    }
    for (std::string line; recordRest && !(line = connection.TakeLine()).empty();) {
        m_heard.push_back(line);
    }
    if (connection.tls) {
        SSL_shutdown(connection.tls.get());
    }
    shutdown(fd, SHUT_RDWR);
    close(fd);
    if (after != 0) {
        Run(after);
    }
}
