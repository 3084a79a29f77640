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
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* kServerName = "127.0.0.1";

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

// One client: lines in through a stream, replies out with send().
struct Client {
    int fd;
    FILE* in = fdopen(fd, "r");

    ~Client() {
        if (in != nullptr) {
            fclose(in);
        }
    }
    void Send(const std::string& text) const { send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

    // One line without its CR LF; false when the client has gone.
    bool ReadLine(std::string& line) const {
        if (in == nullptr) {
            return false;
        }
        char* text = nullptr;
        std::size_t capacity = 0;
        const ssize_t length = getline(&text, &capacity, in);
        line.assign(text != nullptr ? text : "",
                    length > 1 ? static_cast<std::size_t>(length - 2) : 0);
        free(text);
        return length > 0;
    }

    // Sends a 334 challenge and decodes the answer; false when the client
    // has gone or answered with something that is not base64.
    bool Challenge(const char* data, unsigned length, std::string& response) const {
        std::string encoded(length * 4 / 3 + 8, '\0');
        unsigned written = 0;
        sasl_encode64(data, length, encoded.data(), static_cast<unsigned>(encoded.size()),
                      &written);
        Send("334 " + encoded.substr(0, written) + "\r\n");
        std::string line;
        if (!ReadLine(line)) {
            return false;
        }
        response.assign(line.size() + 1, '\0');
        const bool decoded =
            sasl_decode64(line.data(), static_cast<unsigned>(line.size()), response.data(),
                          static_cast<unsigned>(response.size()), &written) == SASL_OK;
        response.resize(written);
        if (!decoded) {
            Send("501 5.7.0 authentication cancelled\r\n");
        }
        return decoded;
    }
};

// Runs one AUTH exchange to its end.
void Authenticate(const Client& client, sasl_conn_t* conn, const std::string& mechanism) {
    const char* out = nullptr;
    unsigned outLength = 0;
    std::string response;
    int result = sasl_server_start(conn, mechanism.c_str(), nullptr, 0, &out, &outLength);
    while (result == SASL_CONTINUE) {
        if (!client.Challenge(out, outLength, response)) {
            return;
        }
        // RFC 2831 (2.1.2) has the server check both parts of the digest-uri,
        // but Cyrus checks only the service; the host is checked here.
        if (response.find("digest-uri=") != std::string::npos &&
            response.find(std::string("digest-uri=\"smtp/") + kServerName + "\"") ==
                std::string::npos) {
            std::cerr << "sasl_smtp_server: digest-uri names another server\n";
            return client.Send("535 5.7.8 digest-uri names another server\r\n");
        }
        out = nullptr;  // a last step may leave them untouched
        outLength = 0;
        result = sasl_server_step(conn, response.data(), static_cast<unsigned>(response.size()),
                                  &out, &outLength);
    }
    if (result != SASL_OK) {  // the log callback has said why
        return client.Send("535 5.7.8 authentication failed\r\n");
    }
    // DIGEST-MD5 ends with the server's rspauth, which the client answers
    // with an empty line.
    if (outLength > 0 && !client.Challenge(out, outLength, response)) {
        return;
    }
    client.Send(response.empty() || outLength == 0 ? "235 2.7.0 authentication successful\r\n"
                                                   : "501 5.7.0 expected an empty line\r\n");
}

void Serve(int fd) {
    const Client client{fd};
    sasl_conn_t* conn = nullptr;
    if (sasl_server_new("smtp", kServerName, nullptr, nullptr, nullptr, nullptr, 0, &conn) !=
        SASL_OK) {
        return client.Send("454 4.7.0 no SASL\r\n");
    }
    client.Send(std::string("220 ") + kServerName + " SASL test server\r\n");
    for (std::string line; client.ReadLine(line);) {
        const std::string verb = line.substr(0, line.find(' '));
        if (strcasecmp(verb.c_str(), "EHLO") == 0) {
            client.Send(std::string("250-") + kServerName + "\r\n250 AUTH " + g_mechanisms +
                        "\r\n");
        } else if (strcasecmp(verb.c_str(), "AUTH") == 0 && line.size() > 5) {
            Authenticate(client, conn, line.substr(5));
        } else if (strcasecmp(verb.c_str(), "QUIT") == 0) {
            client.Send("221 2.0.0 bye\r\n");
            break;
        } else {
            client.Send("502 5.5.2 not implemented here\r\n");
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
    static const sasl_callback_t kCallbacks[] = {{SASL_CB_GETOPT, AsCallback(&GetOption), nullptr},
                                                 {SASL_CB_LOG, AsCallback(&Log), nullptr},
                                                 {SASL_CB_LIST_END, nullptr, nullptr}};
    sasl_conn_t* setup = nullptr;
    if (sasl_server_init(kCallbacks, "wakebell-sasl-test") != SASL_OK ||
        sasl_server_new("smtp", kServerName, nullptr, nullptr, nullptr, nullptr, 0, &setup) !=
            SASL_OK ||
        sasl_setpass(setup, argv[2], password.c_str(), static_cast<unsigned>(password.size()),
                     nullptr, 0, SASL_SET_CREATE) != SASL_OK) {
        std::cerr << "sasl_smtp_server: cannot store the account\n";
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
