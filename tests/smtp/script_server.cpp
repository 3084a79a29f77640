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

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace {

// Far above anything a passing test needs; only a hung client reaches it.
constexpr auto kPatience = std::chrono::seconds(30);

struct SslDeleter {
    void operator()(SSL* tls) const { SSL_free(tls); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_family == b.sin_family && a.sin_port == b.sin_port &&
           a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// The client runs in this process, so the far end of the server's
// connection is one of our own descriptors: the one whose local address is
// the server's peer and whose peer is the server's local address.
int FindClientSocket(int serverSide) {
    sockaddr_in serverLocal{};
    sockaddr_in serverPeer{};
    socklen_t length = sizeof serverLocal;
    getsockname(serverSide, reinterpret_cast<sockaddr*>(&serverLocal), &length);
    length = sizeof serverPeer;
    getpeername(serverSide, reinterpret_cast<sockaddr*>(&serverPeer), &length);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ignored)) {
        const int fd = std::stoi(entry.path().filename());
        sockaddr_in local{};
        sockaddr_in peer{};
        socklen_t localLength = sizeof local;
        socklen_t peerLength = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 &&
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 &&
            SameEndpoint(local, serverPeer) && SameEndpoint(peer, serverLocal)) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

ScriptStep Say(std::string bytes) {
    return {ScriptStep::Kind::kSay, {std::move(bytes)}};
}
ScriptStep SayInChunks(std::vector<std::string> chunks) {
    return {ScriptStep::Kind::kSay, std::move(chunks)};
}
ScriptStep Hear(std::string line) {
    return {ScriptStep::Kind::kHear, {std::move(line)}};
}
ScriptStep StartTls() {
    return {ScriptStep::Kind::kStartTls, {}};
}
ScriptStep Close() {
    return {ScriptStep::Kind::kClose, {}};
}

struct ScriptServer::Connection {
    int fd;
    std::unique_ptr<SSL_CTX, SslDeleter> context;
    std::unique_ptr<SSL, SslDeleter> tls;
    std::string pending;  // bytes read after the last line taken
    int client = -2;      // the client's own descriptor; -2: not looked up yet

    bool Write(const std::string& bytes) {
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            const long sent =
                tls ? SSL_write(tls.get(), bytes.data() + offset,
                                static_cast<int>(bytes.size() - offset))
                    : send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            offset += static_cast<std::size_t>(sent);
        }
        return true;
    }

    // Appends what arrives to pending; false at the end of the stream.
    bool ReadMore() {
        char chunk[16384];
        const long got =
            tls ? SSL_read(tls.get(), chunk, sizeof chunk) : recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            return false;
        }
        pending.append(chunk, static_cast<std::size_t>(got));
        return true;
    }

    // Returns once the client has read everything sent so far: nothing left
    // unacknowledged here and nothing waiting in the client's socket.
    bool WaitUntilClientRead() {
        if (client == -2) {
            client = FindClientSocket(fd);
        }
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        for (;;) {
            int unacknowledged = 0;
            int unread = 0;
            if (ioctl(fd, SIOCOUTQ, &unacknowledged) != 0) {
                return false;
            }
            if (client < 0 || ioctl(client, FIONREAD, &unread) != 0) {
                unread = 0;
            }
            if (unacknowledged == 0 && unread == 0) {
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
    }
};

ScriptServer::ScriptServer(std::vector<ScriptStep> script, std::string certificate, std::string key)
    : m_script(std::move(script)), m_certificate(std::move(certificate)), m_key(std::move(key)) {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_listener, 1) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("script server cannot listen");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

ScriptServer::~ScriptServer() {
    {
        const std::lock_guard lock(m_mutex);
        shutdown(m_listener, SHUT_RDWR);  // ends a pending accept
        if (m_connection >= 0) {
            shutdown(m_connection, SHUT_RDWR);
        }
    }
    m_thread.join();
    close(m_listener);
    if (m_connection >= 0) {
        close(m_connection);
    }
}

bool ScriptServer::WaitUntilDone() {
    std::unique_lock lock(m_mutex);
    return m_doneChanged.wait_for(lock, kPatience, [this] { return m_done; });
}

std::vector<std::string> ScriptServer::Heard() const {
    const std::lock_guard lock(m_mutex);
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

bool ScriptServer::ClientClosed() const {
    const std::lock_guard lock(m_mutex);
    return m_clientClosed;
}

void ScriptServer::Record(std::string line) {
    const std::lock_guard lock(m_mutex);
    m_heard.push_back(std::move(line));
}

void ScriptServer::Run() {
    // A write to a client that has gone must fail, not kill the test; the
    // signal is directed at this thread, so blocking it here is enough.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        {
            const std::lock_guard lock(m_mutex);
            m_connection = fd;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Connection connection{fd, nullptr, nullptr, {}};
        RunSteps(connection);
        if (connection.tls) {
            SSL_shutdown(connection.tls.get());
        }
    }
    const std::lock_guard lock(m_mutex);
    m_done = true;
    m_doneChanged.notify_all();
}

void ScriptServer::RunSteps(Connection& connection) {
    for (const ScriptStep& step : m_script) {
        const StepOutcome outcome = RunStep(connection, step);
        if (outcome == StepOutcome::kStop) {
            return;
        }
        if (outcome == StepOutcome::kClientGone) {
            break;
        }
    }
    // Whatever the client still sends is recorded, until it closes.
    while (connection.ReadMore()) {
        std::size_t end;
        while ((end = connection.pending.find("\r\n")) != std::string::npos) {
            Record(connection.pending.substr(0, end + 2));
            connection.pending.erase(0, end + 2);
        }
    }
    if (!connection.pending.empty()) {
        Record(connection.pending);
    }
    const std::lock_guard lock(m_mutex);
    m_clientClosed = true;
}

ScriptServer::StepOutcome ScriptServer::RunStep(Connection& connection, const ScriptStep& step) {
    switch (step.kind) {
        case ScriptStep::Kind::kSay:
            for (std::size_t i = 0; i < step.bytes.size(); ++i) {
                if (i > 0 && !connection.WaitUntilClientRead()) {
                    return StepOutcome::kStop;
                }
                if (!connection.Write(step.bytes[i])) {
                    return StepOutcome::kClientGone;
                }
            }
            return StepOutcome::kNext;
        case ScriptStep::Kind::kHear: {
            std::size_t end;
            while ((end = connection.pending.find("\r\n")) == std::string::npos) {
                if (!connection.ReadMore()) {
                    return StepOutcome::kClientGone;
                }
            }
            Record(connection.pending.substr(0, end + 2));
            connection.pending.erase(0, end + 2);
            return StepOutcome::kNext;
        }
        case ScriptStep::Kind::kStartTls:
            connection.context.reset(SSL_CTX_new(TLS_server_method()));
            connection.tls.reset(SSL_new(connection.context.get()));
            if (SSL_use_certificate_chain_file(connection.tls.get(), m_certificate.c_str()) != 1 ||
                SSL_use_PrivateKey_file(connection.tls.get(), m_key.c_str(), SSL_FILETYPE_PEM) !=
                    1 ||
                SSL_set_fd(connection.tls.get(), connection.fd) != 1 ||
                SSL_accept(connection.tls.get()) != 1) {
                ERR_clear_error();
                connection.tls.reset();
                return StepOutcome::kStop;  // what follows a failed handshake is not SMTP
            }
            return StepOutcome::kNext;
        case ScriptStep::Kind::kClose:
            shutdown(connection.fd, SHUT_RDWR);
            return StepOutcome::kStop;
    }
    return StepOutcome::kStop;
}
