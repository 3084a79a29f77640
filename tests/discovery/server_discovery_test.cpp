// The sources in order against a real DNS server (dnsmasq on 127.0.0.1),
// and the ends a lookup can come to.
#include "discovery/server_discovery.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/discovery/dnsmasq_server.h"
#include "tests/discovery/fake_nameserver.h"
#include "tests/smtp/script_server.h"
#include "tests/smtp/test_certificates.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Found {
    DiscoveryOutcome outcome;
    std::vector<ServerCandidate> candidates;
};

Found Discover(const std::string& address, const DiscoveryOptions& options,
               milliseconds within = milliseconds(3000)) {
    Found found;
    found.outcome =
        DiscoverServers(address, Clock::now() + within, options,
                        [&](const ServerCandidate& c) { found.candidates.push_back(c); });
    return found;
}

class ServerDiscoveryDns : public ::testing::Test {
  protected:
    // srv-host=<name>,<target>,<port>,<priority>,<weight>; no target: ".".
    static void SetUpTestSuite() {
        s_dns = new DnsmasqServer({
            "srv-host=_submissions._tcp.srv.example.test,low.srv.example.test,465,0,5",
            "srv-host=_submissions._tcp.srv.example.test,heavy.srv.example.test,465,0,50",
            "srv-host=_submissions._tcp.srv.example.test,later.srv.example.test,465,10,90",
            "srv-host=_pop3s._tcp.srv.example.test,pop.srv.example.test,995,0,1",
            "srv-host=_submissions._tcp.dot.example.test",
            "srv-host=_submission._tcp.dot.example.test,mail.dot.example.test,587,0,1",
            "srv-host=_submissions._tcp.away.example.test,smtp.elsewhere.test,465,0,1",
            "srv-host=_submissions._tcp.hosted.example.test,smtp.gmail.com,465,0,1",
            "srv-host=_submissions._tcp.forged.example.test,ev<il>.forged.example.test,465,0,1",
            "srv-host=_submissions._tcp.mx.example.test",
            "srv-host=_submission._tcp.mx.example.test",
            "mx-host=mx.example.test,backup.example.test,20",
            "mx-host=mx.example.test,aspmx.l.google.com,10",
            "host-record=mail.example.test,127.0.0.1",
        });
    }
    static void TearDownTestSuite() { delete s_dns; }

    static DiscoveryOptions Options(bool probe = false) {
        DiscoveryOptions options;
        options.nameserver = s_dns->Nameserver();
        options.probe = probe;
        return options;
    }

    static DnsmasqServer* s_dns;
};
DnsmasqServer* ServerDiscoveryDns::s_dns = nullptr;

TEST_F(ServerDiscoveryDns, EachSourceGivesItsCandidate) {
    const struct {
        const char* address;
        DiscoverySource source;
        const char* host;
        std::uint16_t port;
        SmtpTransportKind kind;
        const char* popHost;
        const char* foundVia;
        bool outside;
    } cases[] = {
        // Lowest priority, then the heaviest weight.
        {"taro@SRV.example.test", DiscoverySource::kSrv, "heavy.srv.example.test", 465,
         SmtpTransportKind::kTls, "pop.srv.example.test", "heavy.srv.example.test", false},
        // "." : no TLS from the first byte here; STARTTLS is.
        {"taro@dot.example.test", DiscoverySource::kSrv, "mail.dot.example.test", 587,
         SmtpTransportKind::kStartTls, "", "mail.dot.example.test", false},
        {"taro@away.example.test", DiscoverySource::kSrv, "smtp.elsewhere.test", 465,
         SmtpTransportKind::kTls, "", "smtp.elsewhere.test", true},
        {"taro@hosted.example.test", DiscoverySource::kSrv, "smtp.gmail.com", 465,
         SmtpTransportKind::kTls, "", "smtp.gmail.com", false},
        // Both SRV services "." : the preferred MX's provider.
        {"taro@mx.example.test", DiscoverySource::kMx, "smtp.gmail.com", 465,
         SmtpTransportKind::kTls, "pop.gmail.com", "aspmx.l.google.com", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const Found found = Discover(c.address, Options());
        ASSERT_EQ(found.outcome, DiscoveryOutcome::kFound);
        ASSERT_EQ(found.candidates.size(), 1U);
        const ServerCandidate& got = found.candidates[0];
        EXPECT_EQ(got.source, c.source);
        EXPECT_EQ(got.smtpHost, c.host);
        EXPECT_EQ(got.smtpPort, c.port);
        EXPECT_EQ(got.smtpKind, c.kind);
        EXPECT_EQ(got.popHost, c.popHost);
        EXPECT_EQ(got.foundVia, c.foundVia);
        EXPECT_EQ(got.outsideDomain, c.outside);
    }
    // A target that is no host name is no answer.
    for (const char* address : {"taro@none.example.test", "taro@forged.example.test"}) {
        EXPECT_EQ(Discover(address, Options()).outcome, DiscoveryOutcome::kNothingFound) << address;
    }
}

TEST_F(ServerDiscoveryDns, ADomainWithoutRecordsIsProbed) {
    TestCertificates certificates;
    ScriptServer tls({StartTls(), Say("220 mail.example.test ESMTP\r\n"),
                      Hear("EHLO", "250 mail.example.test\r\n"), Hear("QUIT", "221 bye\r\n")},
                     certificates.File("other-host.pem"), certificates.File("other-host.key"));
    DiscoveryOptions options = Options(true);
    options.portMap = {{465, tls.Port()}, {587, 1}};
    const Found found = Discover("taro@example.test", options);
    ASSERT_EQ(found.outcome, DiscoveryOutcome::kFound);
    EXPECT_EQ(found.candidates[0].source, DiscoverySource::kProbe);
    EXPECT_EQ(found.candidates[0].smtpHost, "mail.example.test");
    EXPECT_EQ(found.candidates[0].smtpPort, 465);
}

TEST(ServerDiscovery, ATableHitAsksNoDns) {
    FakeNameserver silent;
    DiscoveryOptions options;
    options.nameserver = silent.Nameserver();
    const Found found = Discover("Taro@Mail.COM", options);
    ASSERT_EQ(found.outcome, DiscoveryOutcome::kFound);
    EXPECT_EQ(found.candidates[0].source, DiscoverySource::kProviderTable);
    EXPECT_EQ(found.candidates[0].providerName, "mail.com");
    EXPECT_FALSE(silent.Queried());
}

TEST(ServerDiscovery, ABadAddressIsRefusedWithoutAQuery) {
    const std::string label63(63, 'a');
    const char* const bad[] = {"taro",
                               "taro@",
                               "taro@example",
                               "taro@exa_mple.test",
                               "taro@-example.test",
                               "taro@example..test",
                               "taro@例え.jp",
                               "taro@example.test/x"};
    FakeNameserver silent;
    DiscoveryOptions options;
    options.nameserver = silent.Nameserver();
    std::vector<std::string> addresses(std::begin(bad), std::end(bad));
    addresses.push_back("taro@" + std::string(64, 'a') + ".test");  // a label over 63
    addresses.push_back("taro@" + label63 + "." + label63 + "." + label63 + "." + label63 +
                        ".test");  // over 253
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        const Found found = Discover(address, options);
        EXPECT_EQ(found.outcome, DiscoveryOutcome::kBadAddress);
        EXPECT_TRUE(found.candidates.empty());
    }
    EXPECT_FALSE(silent.Queried());
}

TEST(ServerDiscovery, ASilentDnsServerEndsAtTheDeadline) {
    FakeNameserver silent;
    DiscoveryOptions options;
    options.nameserver = silent.Nameserver();
    const auto start = Clock::now();
    EXPECT_EQ(Discover("taro@example.test", options, milliseconds(300)).outcome,
              DiscoveryOutcome::kTimedOut);
    EXPECT_LT(Clock::now() - start, milliseconds(600));
    EXPECT_TRUE(silent.Queried());
}

TEST(ServerDiscovery, TheAbortEndsTheLookupAtOnce) {
    FakeNameserver silent;
    DiscoveryOptions options;
    options.nameserver = silent.Nameserver();
    auto abort = std::make_shared<SmtpAbort>();
    options.abort = abort;
    std::thread aborter([&] {
        while (!silent.Queried()) {
            std::this_thread::yield();
        }
        abort->Abort();
    });
    const auto start = Clock::now();
    EXPECT_EQ(Discover("taro@example.test", options, milliseconds(10000)).outcome,
              DiscoveryOutcome::kCancelled);
    EXPECT_LT(Clock::now() - start, milliseconds(2000));
    aborter.join();
}

TEST(ServerDiscovery, AMalformedAnswerIsNoAnswer) {
    FakeNameserver malformed(FakeNameserver::Reply::kMalformed);
    DiscoveryOptions options;
    options.nameserver = malformed.Nameserver();
    options.probe = false;
    EXPECT_EQ(Discover("taro@example.test", options).outcome, DiscoveryOutcome::kNothingFound);
}

}  // namespace
