// Probes against scripted servers on 127.0.0.1: what wins, what a probe
// sends, and that a silent server costs no more than the deadline.
#include "discovery/probe.h"

#include <gtest/gtest.h>

#include <optional>

#include "smtp/smtp.h"
#include "tests/smtp/script_server.h"
#include "tests/smtp/test_certificates.h"

namespace {

using std::chrono::milliseconds;

const std::string kEhlo = std::string("EHLO ") + CSmtp().GetLocalHost() + "\r\n";
const std::string kOffers = "250-mail.example.test\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n";

class Probes : public ::testing::Test {
  protected:
    // TLS from the first byte with a certificate for certificateName's files.
    std::unique_ptr<ScriptServer> TlsServer(const std::string& certificate = "other-host") {
        return std::make_unique<ScriptServer>(
            std::vector<ScriptStep>{StartTls(), Say("220 mail.example.test ESMTP\r\n"),
                                    Hear(kEhlo, kOffers), Hear("QUIT\r\n", "221 bye\r\n")},
            m_certificates.File(certificate + ".pem"), m_certificates.File(certificate + ".key"));
    }
    std::unique_ptr<ScriptServer> StartTlsServer() {
        return std::make_unique<ScriptServer>(
            std::vector<ScriptStep>{Say("220 mail.example.test ESMTP\r\n"), Hear(kEhlo, kOffers),
                                    Hear("STARTTLS\r\n", "220 go ahead\r\n"), StartTls(),
                                    Hear(kEhlo, kOffers), Hear("QUIT\r\n", "221 bye\r\n")},
            m_certificates.File("other-host.pem"), m_certificates.File("other-host.key"));
    }

    // Probes mail.example.test on 127.0.0.1 (smtp. and the domain do not
    // resolve) with 465 and 587 sent to the given ports.
    static ProbeEnd Probe(std::uint16_t tlsPort, std::uint16_t startTlsPort, ProbeResult& result,
                          milliseconds within = milliseconds(3000)) {
        const std::vector<ProbeHost> hosts = {
            {"smtp.example.test", ""}, {"mail.example.test", "127.0.0.1"}, {"example.test", ""}};
        return ProbeServers(hosts, std::chrono::steady_clock::now() + within,
                            {{465, tlsPort}, {587, startTlsPort}}, nullptr, result);
    }

    TestCertificates m_certificates;
};

// Port 1 on 127.0.0.1: nothing listens, the connection is refused.
constexpr std::uint16_t kRefused = 1;

TEST_F(Probes, TheMostPreferredAnswerWins) {
    const struct {
        const char* name;
        bool tls;       // a TLS server for mail.example.test on 465
        bool startTls;  // a STARTTLS server on 587
        std::optional<std::uint16_t> winner;
    } cases[] = {
        {"both answer: 465", true, true, 465},
        {"465 refused: 587", false, true, 587},
        {"neither", false, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto tls = c.tls ? TlsServer() : nullptr;
        auto startTls = c.startTls ? StartTlsServer() : nullptr;
        ProbeResult result;
        const ProbeEnd end =
            Probe(tls ? tls->Port() : kRefused, startTls ? startTls->Port() : kRefused, result);
        if (!c.winner) {
            EXPECT_EQ(end, ProbeEnd::kNoneAnswered);
            continue;
        }
        ASSERT_EQ(end, ProbeEnd::kAnswered);
        EXPECT_EQ(result.host, "mail.example.test");
        EXPECT_EQ(result.port, *c.winner);
        EXPECT_EQ(result.kind,
                  *c.winner == 465 ? SmtpTransportKind::kTls : SmtpTransportKind::kStartTls);
    }
}

TEST_F(Probes, AProbeSaysEhloAndQuitOnlyThoughAuthIsOffered) {
    auto startTls = StartTlsServer();
    ProbeResult result;
    ASSERT_EQ(Probe(kRefused, startTls->Port(), result), ProbeEnd::kAnswered);
    EXPECT_EQ(startTls->Heard(),
              (std::vector<std::string>{kEhlo, "STARTTLS\r\n", kEhlo, "QUIT\r\n"}));

    auto tls = TlsServer();
    ASSERT_EQ(Probe(tls->Port(), kRefused, result), ProbeEnd::kAnswered);
    EXPECT_EQ(tls->Heard(), (std::vector<std::string>{kEhlo, "QUIT\r\n"}));
}

TEST_F(Probes, NoSafeAnswerIsNoAnswer) {
    // A certificate for localhost only, and a 587 that offers no STARTTLS.
    auto wrongName = TlsServer("server");
    ScriptServer plain({Say("220 mail.example.test ESMTP\r\n"),
                        Hear(kEhlo, "250-mail.example.test\r\n250 AUTH PLAIN\r\n"),
                        Hear("QUIT\r\n", "221 bye\r\n")});
    ProbeResult result;
    EXPECT_EQ(Probe(wrongName->Port(), plain.Port(), result), ProbeEnd::kNoneAnswered);
    EXPECT_EQ(plain.Heard(), (std::vector<std::string>{kEhlo, "QUIT\r\n"}));
}

TEST_F(Probes, AServerSilentAfterItsGreetingEndsAtTheDeadline) {
    ScriptServer silent({Say("220 mail.example.test ESMTP\r\n"), Hear(kEhlo)});
    ProbeResult result;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Probe(kRefused, silent.Port(), result, milliseconds(300)), ProbeEnd::kTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(800));
}

}  // namespace
