// The failures the client tells apart for a person (a refused port, 111, is in
// smtp_session_test.cpp): a plain SMTP server where TLS from the start was expected (420), and each
// reason a TLS handshake fails (414 with its TlsReport), against real TLS
// servers on 127.0.0.1 (OpenSSL in the scripted server; Debian's aiosmtpd
// for a plain port in tests/mailcheck/mail_check_test.cpp).
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/smtp.h"
#include "tests/smtp/script_server.h"
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
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> pipe(popen(command.c_str(), "r"), pclose);
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

// The certificate a case's server shows, as the report must describe it.
struct Leaf {
    const char* subject;
    const char* issuer;
    std::vector<std::string> names;
    bool selfSigned = false;
    const char* notBefore = nullptr;  // checked when given, with notAfter
    const char* notAfter = nullptr;
};

constexpr const char* kTestCa = "CN=Wakebell test CA,O=Wakebell test";
const std::vector<std::string> kLocalNames = {"127.0.0.1", "localhost"};
const Leaf kRogue{"CN=localhost", "CN=Unknown test CA,O=Elsewhere", kLocalNames};
const Leaf kSelfSigned{"CN=localhost,O=Nobody", "CN=localhost,O=Nobody", kLocalNames, true};
// From the test CA for 127.0.0.1 and localhost, valid from .. until.
Leaf Dated(const char* from, const char* until) {
    return {"CN=localhost", kTestCa, kLocalNames, false, from, until};
}
const Leaf kExpired = Dated("2020-01-01 00:00:00 UTC", "2020-01-02 00:00:00 UTC");
const Leaf kNotYetValid = Dated("2090-01-01 00:00:00 UTC", "2090-01-02 00:00:00 UTC");
const Leaf kOtherHost{"CN=mail.example.test", kTestCa, {"mail.example.test"}};

struct Case {
    const char* name;
    const char* pair;  // the scripted server's certificate pair
    std::vector<ScriptStep> script;
    SmtpSecurity security;
    int code;
    TlsProblem problem;
    const char* detail;
    const Leaf* leaf = nullptr;
    const char* reply = "";  // how a plain server's reply, then the last, begins
    const char* host = "127.0.0.1";
};

// One client for every case, so that each OpenSession must also forget
// the report of the case before.
TEST(TlsReportTest, EachFailureIsToldApartWithTheCertificateShown) {
    const TestCertificates certificates;  // SSL_CERT_FILE: the test CA alone
    const std::vector<ScriptStep> tls = {StartTls()};
    const std::vector<ScriptStep> tls11 = {StartTlsUpTo(TLS1_1_VERSION)};
    const std::vector<ScriptStep> plainGreeting = {Say("220 ready\r\n")};
    const std::vector<ScriptStep> plainReply = {Await(), Say("554-not\r\n554 for you\r\n")};
    const std::vector<ScriptStep> trusted = {StartTls(), Say("220 ready\r\n"),
                                             Hear(Ehlo(), "250 fake\r\n"),
                                             Hear("QUIT\r\n", "221 bye\r\n")};
    const std::vector<ScriptStep> greeted = {Say("220 ready\r\n"),
                                             Hear(Ehlo(), "250-fake\r\n250 STARTTLS\r\n"),
                                             Hear("STARTTLS\r\n", "220 go ahead\r\n")};
    std::vector<ScriptStep> startTls = greeted;
    startTls.push_back(StartTls());
    std::vector<ScriptStep> plainAfterStartTls = greeted;
    plainAfterStartTls.insert(plainAfterStartTls.end(), {Await(), Say("500 what?\r\n")});
    constexpr SmtpSecurity kTls = SECURITY_TLS;
    const std::vector<Case> cases = {
        {"a CA this machine does not trust", "rogue", tls, kTls, ERR_TLS,
         TlsProblem::kUntrustedIssuer, "unable to get local issuer certificate", &kRogue},
        {"self-signed", "self-signed", tls, kTls, ERR_TLS, TlsProblem::kUntrustedIssuer,
         "self-signed certificate", &kSelfSigned},
        {"expired, after STARTTLS", "expired", startTls, SECURITY_STARTTLS, ERR_TLS,
         TlsProblem::kExpired, "certificate has expired", &kExpired},
        {"not yet valid", "not-yet-valid", tls, kTls, ERR_TLS, TlsProblem::kNotYetValid,
         "certificate is not yet valid", &kNotYetValid},
        {"issued for another host, reached by address", "other-host", tls, kTls, ERR_TLS,
         TlsProblem::kNameMismatch, "IP address mismatch", &kOtherHost},
        {"issued for another host, reached by name", "other-host", tls, kTls, ERR_TLS,
         TlsProblem::kNameMismatch, "hostname mismatch", &kOtherHost, "", "localhost"},
        {"a server of TLS 1.1 at most", "server", tls11, kTls, ERR_TLS, TlsProblem::kProtocolTooOld,
         "tlsv1 alert protocol version"},
        {"a plain greeting before the ClientHello", "server", plainGreeting, kTls,
         ERR_TLS_PLAIN_SERVER, TlsProblem::kPlainText, "wrong version number", nullptr,
         "220 ready\r\n"},
        {"a plain reply after the ClientHello", "server", plainReply, kTls, ERR_TLS_PLAIN_SERVER,
         TlsProblem::kPlainText, "wrong version number", nullptr, "554-not\r\n554 for you\r\n"},
        // Not a plain port: the form's advice (another port) would not help.
        {"a plain reply after STARTTLS's 220", "server", plainAfterStartTls, SECURITY_STARTTLS,
         ERR_TLS, TlsProblem::kOther, "wrong version number"},
        {"a trusted server: nothing to report", "server", trusted, kTls, ERR_NONE,
         TlsProblem::kNone, ""},
    };
    CSmtp smtp;
    std::vector<std::string> trace;
    smtp.SetTraceSink([&trace](std::string_view text) { trace.emplace_back(text); });
    smtp.SetWaitLimit(kGenerousWait);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        trace.clear();
        const std::string pair(c.pair);
        ScriptServer server(c.script, certificates.File(pair + ".pem"),
                            certificates.File(pair + ".key"));
        int code = ERR_NONE;
        try {
            smtp.OpenSession(c.host, server.Port(), c.security, false, nullptr, nullptr);
            smtp.CloseSession();
        } catch (const ECSmtp& e) {
            code = e.Code();
        }
        EXPECT_EQ(code, c.code);
        const TlsReport& report = smtp.GetTlsReport();
        EXPECT_EQ(report.problem, c.problem) << TlsProblemName(report.problem);
        EXPECT_EQ(report.detail, c.detail);
        EXPECT_EQ(report.certificate.has_value(), c.leaf != nullptr);
        if (c.leaf != nullptr && report.certificate) {
            const TlsCertificate& shown = *report.certificate;
            EXPECT_EQ(shown.subject, c.leaf->subject);
            EXPECT_EQ(shown.issuer, c.leaf->issuer);
            EXPECT_EQ(shown.names, c.leaf->names);
            EXPECT_EQ(shown.selfSigned, c.leaf->selfSigned);
            EXPECT_EQ(shown.sha256,
                      OpensslFingerprint(certificates.File(std::string(c.pair) + ".pem")));
            if (c.leaf->notBefore != nullptr) {
                EXPECT_EQ(shown.notBefore, c.leaf->notBefore);
                EXPECT_EQ(shown.notAfter, c.leaf->notAfter);
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
        for (const std::string& line : server.Heard()) {
            EXPECT_TRUE(c.code == ERR_NONE || line.find("QUIT") == std::string::npos);
        }
    }
}

}  // namespace
