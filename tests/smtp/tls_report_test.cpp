// The failures the client tells apart for a person: a refused port (111), a
// plain SMTP server where TLS from the start was expected (420), and each
// reason a TLS handshake fails (414 with its TlsReport), against real TLS
// servers on 127.0.0.1 (OpenSSL in the scripted server, Debian's aiosmtpd).
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/smtp.h"
#include "tests/smtp/child_process.h"
#include "tests/smtp/script_server.h"
#include "tests/smtp/test_account.h"
#include "tests/smtp/test_certificates.h"

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kGenerousWait{10'000};

std::string Ehlo() {
    return std::string("EHLO ") + CSmtp().GetLocalHost() + "\r\n";
}

// The SHA-256 fingerprint as the openssl command prints it.
std::string OpensslFingerprint(const std::string& file) {
    const std::string command = "openssl x509 -noout -fingerprint -sha256 -in '" + file + "'";
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> pipe(popen(command.c_str(), "r"),
                                                               pclose);
    std::array<char, 256> line{};
    if (!pipe || std::fgets(line.data(), line.size(), pipe.get()) == nullptr) {
        return "openssl failed";
    }
    std::string text(line.data());
    text.erase(0, text.find('=') + 1);
    if (text.ends_with('\n')) {
        text.pop_back();
    }
    return text;
}

struct ExpectedCertificate {
    std::string subject{};
    std::string issuer{};
    std::vector<std::string> names{};
    bool selfSigned = false;
    std::string notBefore{};  // checked when not empty
    std::string notAfter{};
};

struct Case {
    const char* name;
    std::string pair{};  // the scripted server's certificate pair
    std::vector<ScriptStep> script{};
    SmtpSecurity security = SECURITY_TLS;
    int code = ERR_TLS;
    TlsProblem problem = TlsProblem::kNone;
    std::string detail{};
    std::optional<ExpectedCertificate> certificate{};
    std::string reply{};  // how a plain server's reply, then the last, begins
    const char* host = "127.0.0.1";
    std::uint16_t port = 0;  // a server of its own instead of the scripted one
};

const ExpectedCertificate kTestCaLeaf{
    "CN=localhost", "CN=Wakebell test CA,O=Wakebell test", {"127.0.0.1", "localhost"}};

const ExpectedCertificate kOtherHost{
    "CN=mail.example.test", "CN=Wakebell test CA,O=Wakebell test", {"mail.example.test"}};

ExpectedCertificate Dated(const char* notBefore, const char* notAfter) {
    ExpectedCertificate dated = kTestCaLeaf;
    dated.notBefore = notBefore;
    dated.notAfter = notAfter;
    return dated;
}

// One client for every case, so that each OpenSession must also forget
// the report of the case before.
TEST(TlsReportTest, EachFailureIsToldApartWithTheCertificateShown) {
    const TestCertificates certificates;  // SSL_CERT_FILE: the test CA alone
    const ServerProcess aiosmtpd({WAKEBELL_DEBIAN_PYTHON, WAKEBELL_AIOSMTPD_SERVER, "--cert",
                                  certificates.File("server.pem"), "--key",
                                  certificates.File("server.key"), "--user",
                                  std::string(kTestUser), "--password",
                                  std::string(kTestPassword)});
    std::uint16_t refusedPort = 0;
    {
        const ScriptServer gone({});  // its port, once closed, refuses
        refusedPort = gone.Port();
    }
    const std::vector<ScriptStep> tls = {StartTls()};
    const std::vector<ScriptStep> startTls = {Say("220 ready\r\n"),
                                              Hear(Ehlo(), "250-fake\r\n250 STARTTLS\r\n"),
                                              Hear("STARTTLS\r\n", "220 go ahead\r\n"),
                                              StartTls()};
    const std::vector<Case> cases = {
        {.name = "a CA this machine does not trust",
         .pair = "rogue",
         .script = tls,
         .problem = TlsProblem::kUntrustedIssuer,
         .detail = "unable to get local issuer certificate",
         .certificate = ExpectedCertificate{"CN=localhost", "CN=Unknown test CA,O=Elsewhere",
                                            {"127.0.0.1", "localhost"}}},
        {.name = "self-signed",
         .pair = "self-signed",
         .script = tls,
         .problem = TlsProblem::kUntrustedIssuer,
         .detail = "self-signed certificate",
         .certificate = ExpectedCertificate{"CN=localhost,O=Nobody", "CN=localhost,O=Nobody",
                                            {"127.0.0.1", "localhost"}, true}},
        {.name = "expired",
         .pair = "expired",
         .script = tls,
         .problem = TlsProblem::kExpired,
         .detail = "certificate has expired",
         .certificate = Dated("2020-01-01 00:00:00 UTC", "2020-01-02 00:00:00 UTC")},
        {.name = "expired, after STARTTLS",
         .pair = "expired",
         .script = startTls,
         .security = SECURITY_STARTTLS,
         .problem = TlsProblem::kExpired,
         .detail = "certificate has expired",
         .certificate = Dated("2020-01-01 00:00:00 UTC", "2020-01-02 00:00:00 UTC")},
        {.name = "not yet valid",
         .pair = "not-yet-valid",
         .script = tls,
         .problem = TlsProblem::kNotYetValid,
         .detail = "certificate is not yet valid",
         .certificate = Dated("2090-01-01 00:00:00 UTC", "2090-01-02 00:00:00 UTC")},
        {.name = "issued for another host, reached by address",
         .pair = "other-host",
         .script = tls,
         .problem = TlsProblem::kNameMismatch,
         .detail = "IP address mismatch",
         .certificate = kOtherHost},
        {.name = "issued for another host, reached by name",
         .pair = "other-host",
         .script = tls,
         .problem = TlsProblem::kNameMismatch,
         .detail = "hostname mismatch",
         .certificate = kOtherHost,
         .host = "localhost"},
        {.name = "a server of TLS 1.1 at most",
         .pair = "server",
         .script = {StartTlsUpTo(TLS1_1_VERSION)},
         .problem = TlsProblem::kProtocolTooOld,
         .detail = "tlsv1 alert protocol version"},
        {.name = "a plain greeting before the ClientHello",
         .pair = "server",
         .script = {Say("220 ready\r\n")},
         .code = ERR_TLS_PLAIN_SERVER,
         .problem = TlsProblem::kPlainText,
         .detail = "wrong version number",
         .reply = "220 ready\r\n"},
        {.name = "a plain reply after the ClientHello",
         .pair = "server",
         .script = {Await(), Say("554-not\r\n554 for you\r\n")},
         .code = ERR_TLS_PLAIN_SERVER,
         .problem = TlsProblem::kPlainText,
         .detail = "wrong version number",
         .reply = "554-not\r\n554 for you\r\n"},
        {.name = "aiosmtpd's plain listener",
         .code = ERR_TLS_PLAIN_SERVER,
         .problem = TlsProblem::kPlainText,
         .detail = "wrong version number",
         .reply = "220 test.invalid ",
         .port = aiosmtpd.Port("plain")},
        // The form's advice (another port) would not help here.
        {.name = "a plain reply after STARTTLS's 220 is no plain port",
         .pair = "server",
         .script = {Say("220 ready\r\n"), Hear(Ehlo(), "250-fake\r\n250 STARTTLS\r\n"),
                    Hear("STARTTLS\r\n", "220 go ahead\r\n"), Await(), Say("500 what?\r\n")},
         .security = SECURITY_STARTTLS,
         .problem = TlsProblem::kOther,
         .detail = "wrong version number"},
        {.name = "a refused port",
         .code = ERR_CONNECTION_REFUSED,
         .problem = TlsProblem::kNone,
         .port = refusedPort},
        {.name = "a trusted server: nothing to report",
         .pair = "server",
         .script = {StartTls(), Say("220 ready\r\n"), Hear(Ehlo(), "250 fake\r\n"),
                    Hear("QUIT\r\n", "221 bye\r\n")},
         .code = ERR_NONE,
         .problem = TlsProblem::kNone},
    };
    CSmtp smtp;
    std::vector<std::string> trace;
    smtp.SetTraceSink([&trace](std::string_view text) { trace.emplace_back(text); });
    smtp.SetWaitLimit(kGenerousWait);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        trace.clear();
        std::optional<ScriptServer> server;
        if (c.port == 0) {
            server.emplace(c.script, certificates.File(c.pair + ".pem"),
                           certificates.File(c.pair + ".key"));
        }
        int code = ERR_NONE;
        try {
            smtp.OpenSession(c.host, c.port == 0 ? server->Port() : c.port, c.security, false,
                             nullptr, nullptr);
            smtp.CloseSession();
        } catch (const ECSmtp& e) {
            code = e.Code();
        }
        EXPECT_EQ(code, c.code);
        const TlsReport& report = smtp.GetTlsReport();
        EXPECT_EQ(report.problem, c.problem) << TlsProblemName(report.problem);
        EXPECT_EQ(report.detail, c.detail);
        EXPECT_EQ(report.certificate.has_value(), c.certificate.has_value());
        if (c.certificate && report.certificate) {
            const TlsCertificate& shown = *report.certificate;
            EXPECT_EQ(shown.subject, c.certificate->subject);
            EXPECT_EQ(shown.issuer, c.certificate->issuer);
            EXPECT_EQ(shown.names, c.certificate->names);
            EXPECT_EQ(shown.selfSigned, c.certificate->selfSigned);
            EXPECT_EQ(shown.sha256, OpensslFingerprint(certificates.File(c.pair + ".pem")));
            if (!c.certificate->notBefore.empty()) {
                EXPECT_EQ(shown.notBefore, c.certificate->notBefore);
                EXPECT_EQ(shown.notAfter, c.certificate->notAfter);
            }
        }
        // One trace text names the problem; a plain server's reply is kept
        // as the last reply, and no QUIT follows it.
        const std::string tlsLine = std::string(kTraceTlsPrefix) +
                                    std::string(TlsProblemName(c.problem)) + ": " + c.detail +
                                    "\r\n";
        const bool traced = std::find(trace.begin(), trace.end(), tlsLine) != trace.end();
        EXPECT_EQ(traced, c.problem != TlsProblem::kNone) << tlsLine;
        EXPECT_TRUE(std::string_view(smtp.GetLastReply()).starts_with(c.reply))
            << smtp.GetLastReply();
        if (server) {
            const std::vector<std::string> heard = server->Heard();
            if (c.code == ERR_NONE) {
                EXPECT_EQ(heard, server->Expected());
            }
            for (const std::string& line : heard) {
                EXPECT_TRUE(c.code == ERR_NONE || line.find("QUIT") == std::string::npos);
            }
        }
    }
}

}  // namespace
