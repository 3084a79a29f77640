// The benchmarks' local server, driven by a plain OpenSSL client: it sends
// its session ticket before the greeting (what makes a client's delayed ACK
// show as a stall), and it counts what each session delivered, which the
// mail benchmark trusts to tell that a client carried the whole message.
#include "bench/local_smtp_server.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/throwaway_certificates.h"
#include "codec/base64.h"

namespace {

constexpr const char* kLogin = "bench-user";
constexpr const char* kPassword = "bench-secret";

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

// One TLS 1.3 connection to the server, read and written a line at a time.
class Client {
  public:
    explicit Client(std::uint16_t port) {
        SSL_CTX_set_min_proto_version(m_context.get(), TLS1_3_VERSION);
        SSL_CTX_set_session_cache_mode(m_context.get(), SSL_SESS_CACHE_CLIENT);
        SSL_CTX_sess_set_new_cb(m_context.get(), &CountTicket);
        BIO* tls = BIO_new_ssl_connect(m_context.get());
        m_bio.reset(BIO_push(BIO_new(BIO_f_buffer()), tls));
        BIO_set_conn_hostname(tls, ("127.0.0.1:" + std::to_string(port)).c_str());
        if (BIO_do_connect(tls) != 1) {
            throw std::runtime_error("cannot connect to the local server");
        }
        const timeval limit{10, 0};  // a silent server fails the test, no hang
        setsockopt(static_cast<int>(BIO_get_fd(tls, nullptr)), SOL_SOCKET, SO_RCVTIMEO, &limit,
                   sizeof limit);
    }

    // The next whole reply: its lines up to one without "-" after the code.
    std::string Reply() {
        std::string reply;
        std::array<char, 4096> line{};
        while (BIO_gets(m_bio.get(), line.data(), static_cast<int>(line.size())) > 0) {
            reply += line.data();
            if (std::strlen(line.data()) < 4 || line[3] != '-') {
                break;
            }
        }
        return reply;
    }

    std::string Say(const std::string& line) {
        BIO_write(m_bio.get(), line.data(), static_cast<int>(line.size()));
        BIO_flush(m_bio.get());
        return Reply();
    }

  private:
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> m_context{SSL_CTX_new(TLS_client_method()),
                                                                &SSL_CTX_free};
    std::unique_ptr<BIO, decltype(&BIO_free_all)> m_bio{nullptr, &BIO_free_all};
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
