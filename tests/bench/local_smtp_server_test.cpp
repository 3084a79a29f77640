// The benchmarks' local server, driven by a plain OpenSSL client: it sends
// its session ticket before the greeting (what makes a client's delayed ACK
// show as a stall), and it counts what each session delivered, which the
// mail benchmark trusts to tell that a client carried the whole message.
#include "bench/local_smtp_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/throwaway_certificates.h"
#include "codec/base64.h"

namespace {

constexpr const char* kLogin = "bench-user";
constexpr const char* kPassword = "bench-secret";

struct SslCtxFree {
    void operator()(SSL_CTX* context) const noexcept { SSL_CTX_free(context); }
};
struct SslFree {
    void operator()(SSL* tls) const noexcept { SSL_free(tls); }
};

std::string Base64Of(const std::string& text) {
    return Base64Encode(reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<std::int32_t>(text.size()));
}

// New sessions (tickets) the client has taken in so far.
int g_tickets = 0;

int CountTicket(SSL* /*tls*/, SSL_SESSION* /*session*/) {
    ++g_tickets;
    return 0;  // not kept: OpenSSL frees it
}

// One TLS connection to the server, read and written a line at a time.
class Client {
  public:
    explicit Client(std::uint16_t port) : m_context(SSL_CTX_new(TLS_client_method())) {
        SSL_CTX_set_min_proto_version(m_context.get(), TLS1_3_VERSION);
        SSL_CTX_set_session_cache_mode(m_context.get(), SSL_SESS_CACHE_CLIENT);
        SSL_CTX_sess_set_new_cb(m_context.get(), &CountTicket);
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval limit{10, 0};  // a silent server fails the test, no hang
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_tls.reset(SSL_new(m_context.get()));
        if (connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            SSL_set_fd(m_tls.get(), m_fd) != 1 || SSL_connect(m_tls.get()) != 1) {
            close(m_fd);
            throw std::runtime_error("cannot connect to the local server");
        }
    }
    ~Client() { close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // The next whole reply (every line up to the one with a blank after the
    // code), or what came before the connection ended.
    std::string Reply() {
        std::string reply;
        for (;;) {
            const std::size_t end = m_pending.find("\r\n");
            if (end != std::string::npos) {
                const std::string line = m_pending.substr(0, end + 2);
                m_pending.erase(0, end + 2);
                reply += line;
                if (line.size() < 4 || line[3] != '-') {
                    return reply;
                }
                continue;
            }
            char buffer[4096];
            std::size_t got = 0;
            if (SSL_read_ex(m_tls.get(), buffer, sizeof buffer, &got) != 1) {
                return reply + m_pending;
            }
            m_pending.append(buffer, got);
        }
    }

    std::string Say(const std::string& line) {
        std::size_t written = 0;
        SSL_write_ex(m_tls.get(), line.data(), line.size(), &written);
        return Reply();
    }

  private:
    std::unique_ptr<SSL_CTX, SslCtxFree> m_context;
    std::unique_ptr<SSL, SslFree> m_tls;
    int m_fd = -1;
    std::string m_pending;
};

// One session over TLS 1.3, whose tickets follow the handshake: only a
// server that writes its ticket before the greeting has the client hold one
// when the greeting is read. The server counts the message with the client's
// dot-stuffing undone.
TEST(LocalSmtpServerTest, SendsTheTicketBeforeTheGreetingAndCountsWhatWasDelivered) {
    const ThrowawayCertificates certificates = MakeThrowawayCertificates("127.0.0.1");
    LocalSmtpServer server(certificates.server.get(), certificates.serverKey.get(), kLogin,
                           kPassword);
    server.KeepMessages(true);
    std::string plain(1, '\0');
    plain.append(kLogin).append(1, '\0').append(kPassword);
    {
        Client client(server.port());
        EXPECT_EQ(client.Reply(), "220 bench.invalid ESMTP ready\r\n");
        EXPECT_EQ(g_tickets, 1);
        client.Say("EHLO bench\r\n");
        EXPECT_EQ(client.Say("AUTH PLAIN " + Base64Of(plain) + "\r\n").substr(0, 4), "235 ");
        client.Say("MAIL FROM:<a@example.invalid>\r\n");
        client.Say("RCPT TO:<b@example.invalid>\r\n");
        client.Say("DATA\r\n");
        EXPECT_EQ(client.Say("Subject: x\r\n\r\n..dot\r\nbody\r\n.\r\n").substr(0, 4), "250 ");
        EXPECT_EQ(client.Say("QUIT\r\n"), "221 2.0.0 Bye\r\n");
    }
    const std::string delivered = "Subject: x\r\n\r\n.dot\r\nbody\r\n";
    const std::vector<LocalSmtpServer::Session> sessions = server.TakeSessions(1);
    ASSERT_EQ(sessions.size(), 1U);
    EXPECT_EQ(sessions[0].messages, 1U);
    EXPECT_EQ(sessions[0].messageBytes, delivered.size());
    EXPECT_EQ(sessions[0].bodyBytes, std::string(".dot\r\nbody\r\n").size());
    EXPECT_EQ(server.LastMessage(), delivered);
    EXPECT_EQ(server.failures(), 0U);
}

}  // namespace
