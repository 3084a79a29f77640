// An SMTP server that knows only enough to let Cyrus SASL judge a client's
// AUTH: greeting, EHLO offering AUTH with the mechanisms asked for, AUTH with
// 334 challenges (RFC 4954), 235 or 535, QUIT. Everything else gets 502.
//
//   sasl_smtp_server SASLDB USER PASSWORD "CRAM-MD5 DIGEST-MD5"
//
// The account is written into SASLDB (a new file) at start. The server listens
// on 127.0.0.1, port chosen by the system, prints "ports smtp=<n>" once it
// listens, and serves one connection after another until it is terminated.
//
// The server's name is "127.0.0.1": the DIGEST-MD5 realm and the sasldb keys
// derive from it, and the client's digest-uri must be "smtp/127.0.0.1".
#include <netinet/in.h>
#include <sasl/sasl.h>
#include <sasl/saslutil.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr const char* kServerName = "127.0.0.1";

// The command line: sasldb file, user, password, mechanisms.
const char* g_sasldb = nullptr;
const char* g_mechanisms = nullptr;

int GetOption(void*, const char*, const char* option, const char** result, unsigned* length) {
    const std::string name = option;
    if (name == "sasldb_path") {
        *result = g_sasldb;
    } else if (name == "mech_list") {
        *result = g_mechanisms;
    } else if (name == "pwcheck_method") {
        *result = "auxprop";
    } else if (name == "auxprop_plugin") {
        *result = "sasldb";
    } else {
        return SASL_FAIL;  // the library's default
    }
    if (length != nullptr) {
        *length = static_cast<unsigned>(std::strlen(*result));
    }
    return SASL_OK;
}

int Log(void*, int level, const char* message) {
    if (level <= SASL_LOG_WARN) {
        std::cerr << "sasl_smtp_server: " << message << '\n';
    }
    return SASL_OK;
}

// The callback table takes every callback as int (*)(); void (*)() in
// between keeps GCC from warning about the function-type cast.
template <typename F>
int (*AsCallback(F* function))() {
    return reinterpret_cast<int (*)()>(reinterpret_cast<void (*)()>(function));
}

class Connection {
  public:
    explicit Connection(int fd) : m_fd(fd) {}
    ~Connection() { close(m_fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Send(const std::string& text) const {
        std::size_t offset = 0;
        while (offset < text.size()) {
            const ssize_t sent = send(m_fd, text.data() + offset, text.size() - offset, 0);
            if (sent <= 0) {
                return false;
            }
            offset += static_cast<std::size_t>(sent);
        }
        return true;
    }

    // One line without its CR LF; nullopt when the client has gone.
    std::optional<std::string> ReadLine() {
        for (;;) {
            const std::size_t end = m_pending.find("\r\n");
            if (end != std::string::npos) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 2);
                return line;
            }
            char chunk[4096];
            const ssize_t got = recv(m_fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return std::nullopt;
            }
            m_pending.append(chunk, static_cast<std::size_t>(got));
        }
    }

  private:
    int m_fd;
    std::string m_pending;
};

std::string Encode(const char* data, unsigned length) {
    std::string out(length * 4 / 3 + 8, '\0');
    unsigned written = 0;
    if (sasl_encode64(data, length, out.data(), static_cast<unsigned>(out.size()), &written) !=
        SASL_OK) {
        return {};
    }
    out.resize(written);
    return out;
}

std::optional<std::string> Decode(const std::string& text) {
    std::string out(text.size() + 1, '\0');
    unsigned written = 0;
    if (sasl_decode64(text.data(), static_cast<unsigned>(text.size()), out.data(),
                      static_cast<unsigned>(out.size()), &written) != SASL_OK) {
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

// RFC 2831 (2.1.2) has the server check both parts of the digest-uri, but
// Cyrus checks only the service; the host is checked here.
bool DigestUriNamesThisServer(const std::string& mechanism, const std::string& response) {
    if (strcasecmp(mechanism.c_str(), "DIGEST-MD5") != 0 ||
        response.find("digest-uri=") == std::string::npos) {
        return true;
    }
    return response.find(std::string("digest-uri=\"smtp/") + kServerName + "\"") !=
           std::string::npos;
}

// Runs one AUTH exchange to its end; false when the client went away.
bool Authenticate(Connection& client, sasl_conn_t* conn, const std::string& mechanism) {
    const char* out = nullptr;
    unsigned outLength = 0;
    int result = sasl_server_start(conn, mechanism.c_str(), nullptr, 0, &out, &outLength);
    while (result == SASL_CONTINUE) {
        if (!client.Send("334 " + Encode(out, outLength) + "\r\n")) {
            return false;
        }
        const std::optional<std::string> line = client.ReadLine();
        if (!line) {
            return false;
        }
        const std::optional<std::string> response = Decode(*line);
        if (*line == "*" || !response) {
            return client.Send("501 5.7.0 authentication cancelled\r\n");
        }
        if (!DigestUriNamesThisServer(mechanism, *response)) {
            std::cerr << "sasl_smtp_server: digest-uri names another server\n";
            return client.Send("535 5.7.8 digest-uri names another server\r\n");
        }
        out = nullptr;  // a last step may leave them untouched
        outLength = 0;
        result = sasl_server_step(conn, response->data(), static_cast<unsigned>(response->size()),
                                  &out, &outLength);
    }
    if (result != SASL_OK) {  // the log callback has said why
        return client.Send("535 5.7.8 authentication failed\r\n");
    }
    // DIGEST-MD5 ends with the server's rspauth, which the client answers
    // with an empty line.
    if (outLength > 0) {
        if (!client.Send("334 " + Encode(out, outLength) + "\r\n")) {
            return false;
        }
        const std::optional<std::string> line = client.ReadLine();
        if (!line) {
            return false;
        }
        if (!line->empty()) {
            return client.Send("501 5.7.0 expected an empty line\r\n");
        }
    }
    return client.Send("235 2.7.0 authentication successful\r\n");
}

void Serve(int fd) {
    Connection client(fd);
    sasl_conn_t* conn = nullptr;
    if (sasl_server_new("smtp", kServerName, nullptr, nullptr, nullptr, nullptr, 0, &conn) !=
        SASL_OK) {
        client.Send("454 4.7.0 no SASL\r\n");
        return;
    }
    const char* mechanisms = nullptr;
    sasl_listmech(conn, nullptr, "", " ", "", &mechanisms, nullptr, nullptr);
    bool open = client.Send(std::string("220 ") + kServerName + " SASL test server\r\n");
    while (open) {
        const std::optional<std::string> line = client.ReadLine();
        if (!line) {
            break;
        }
        const std::string verb = line->substr(0, line->find(' '));
        if (strcasecmp(verb.c_str(), "EHLO") == 0) {
            open = client.Send(std::string("250-") + kServerName + "\r\n250 AUTH " + mechanisms +
                               "\r\n");
        } else if (strcasecmp(verb.c_str(), "AUTH") == 0 && line->size() > 5) {
            open = Authenticate(client, conn, line->substr(5));
        } else if (strcasecmp(verb.c_str(), "QUIT") == 0) {
            client.Send("221 2.0.0 bye\r\n");
            break;
        } else {
            open = client.Send("502 5.5.2 not implemented here\r\n");
        }
    }
    sasl_dispose(&conn);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: sasl_smtp_server SASLDB USER PASSWORD MECHANISMS\n";
        return 2;
    }
    g_sasldb = argv[1];
    g_mechanisms = argv[4];
    const std::string password = argv[3];
    signal(SIGPIPE, SIG_IGN);
    static const sasl_callback_t kCallbacks[] = {{SASL_CB_GETOPT, AsCallback(&GetOption), nullptr},
                                                 {SASL_CB_LOG, AsCallback(&Log), nullptr},
                                                 {SASL_CB_LIST_END, nullptr, nullptr}};
    if (sasl_server_init(kCallbacks, "wakebell-sasl-test") != SASL_OK) {
        std::cerr << "sasl_smtp_server: sasl_server_init failed\n";
        return 1;
    }
    sasl_conn_t* setup = nullptr;
    if (sasl_server_new("smtp", kServerName, nullptr, nullptr, nullptr, nullptr, 0, &setup) !=
            SASL_OK ||
        sasl_setpass(setup, argv[2], password.c_str(), static_cast<unsigned>(password.size()),
                     nullptr, 0, SASL_SET_CREATE) != SASL_OK) {
        std::cerr << "sasl_smtp_server: cannot store the account: " << sasl_errdetail(setup)
                  << '\n';
        return 1;
    }
    sasl_dispose(&setup);

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("sasl_smtp_server: listen");
        return 1;
    }
    std::cout << "ports smtp=" << ntohs(address.sin_port) << std::endl;
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            Serve(fd);
        }
    }
}
