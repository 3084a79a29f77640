// The test mail end to end: against Debian's aiosmtpd, which records every
// message it accepts byte for byte, and against a scripted server for what
// a real one will not do (a long body line, a QUIT left unanswered, a reply
// that never comes while the owner cancels).
#include "mailcheck/mail_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "mailcheck/check_mail_content.h"
#include "tests/settings/temp_folder.h"
#include "tests/smtp/blocked_in_poll.h"
#include "tests/smtp/child_process.h"
#include "tests/smtp/counting_random.h"
#include "tests/smtp/python_mail_reader.h"
#include "tests/smtp/script_server.h"
#include "tests/smtp/test_account.h"
#include "tests/smtp/test_certificates.h"

namespace {

using std::chrono::milliseconds;

constexpr std::time_t kNewYear2027 = 1798761600;  // Fri, 1 Jan 2027 00:00:00 UTC
constexpr milliseconds kGenerousWait{10'000};
constexpr const char* kUserAddress = "user@local.test";
constexpr const char* kSenderAddress = "sender@local.test";

using Stages = std::vector<SmtpStage>;

// One SendTestMail call with the register flow's fixed arguments; the rest
// can vary.
struct Call {
    std::string port;
    int securityMode = kTestMailSecurityMode;
    std::string password = std::string(kTestPassword);
    std::string bodySource = std::string(kTestLinesMarkerText);
    milliseconds waitLimit = kGenerousWait;  // a faulty client fails, not hangs
    std::shared_ptr<const SmtpAbort> abort{};
    SmtpTraceSink alsoTrace{};  // called after the trace is recorded
    bool typed = false;         // the typed SendTestMail rather than the ten arguments
    bool systemRandom = false;  // Message-IDs from the system's CSPRNG, not from 0, 1, 2, ...
};

// The two addresses cannot stand in for each other, nor be made from text
// without saying which they are.
static_assert(!std::is_convertible_v<SenderAddress, RecipientAddress>);
static_assert(!std::is_convertible_v<RecipientAddress, SenderAddress>);
static_assert(!std::is_convertible_v<std::string, RecipientAddress>);
static_assert(!std::is_convertible_v<const char*, SenderAddress>);
static_assert(!std::is_assignable_v<RecipientAddress&, SenderAddress>);

struct Outcome {
    int result = -1;
    TestMailResult typed;  // from the typed call, made with the same arguments
    std::string report;
    Stages stages;
    std::vector<std::string> trace;

    bool Traced(std::string_view text) const {
        for (const std::string& each : trace) {
            if (each == text) {
                return true;
            }
        }
        return false;
    }
};

Outcome Send(const Call& call) {
    Outcome outcome;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> report(std::tmpfile(), std::fclose);
    TestMailOptions options;
    options.abort = call.abort;
    options.onStage = [&outcome](SmtpStage stage) { outcome.stages.push_back(stage); };
    options.waitLimit = call.waitLimit;
    options.clock = [] { return kNewYear2027; };
    options.random = call.systemRandom ? SmtpRandom() : SmtpRandom(CountingRandom);
    options.trace = [&outcome, &call](std::string_view text) {
        if (!text.starts_with(kTraceStatePrefix)) {  // the exchange, not its states
            outcome.trace.emplace_back(text);
        }
        if (call.alsoTrace) {
            call.alsoTrace(text);
        }
    };
    options.report = report.get();
    if (call.typed) {
        const bool testLines = call.bodySource == kTestLinesMarkerText;
        outcome.typed = SendTestMail({.host = "127.0.0.1",
                                      .portText = call.port,
                                      .login = std::string(kTestUser),
                                      .password = call.password,
                                      .recipient = RecipientAddress(kUserAddress),
                                      .sender = SenderAddress(kSenderAddress),
                                      .subject = kTestMailSubject,
                                      .boundary = kTestMailBoundary,
                                      .security = SecurityFromMode(call.securityMode),
                                      .body = testLines ? TestMailBody::TestLines()
                                                        : TestMailBody::FileLines(call.bodySource)},
                                     options);
        outcome.result = outcome.typed.result;
    } else {
        outcome.result =
            SendTestMail("127.0.0.1", call.port.c_str(), std::string(kTestUser).c_str(),
                         call.password.c_str(), kUserAddress, kTestMailSubject, kSenderAddress,
                         kTestMailBoundary, call.securityMode, call.bodySource.c_str(), options);
    }
    std::rewind(report.get());
    for (int c = 0; (c = std::fgetc(report.get())) != EOF;) {
        outcome.report += static_cast<char>(c);
    }
    return outcome;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string TestLines() {
    std::string lines;
    for (const char* line : kTestMailLines) {
        lines += std::string(line) + "\r\n";
    }
    return lines;
}

// The message data as the server keeps it: the header, the body lines, the
// empty line every test mail ends with, the close delimiter and the CR LF
// that opens the end of data.
std::string MailData(const std::string& bodyLines, bool eightBit) {
    return std::string(
               "Date: Fri, 1 Jan 2027 00:00:00 +0000\r\n"
               "Message-ID: <000102030405060708090a0b0c0d0e0f@local.test>\r\n"
               "From: \"user@local.test\" <sender@local.test>\r\n"
               "X-Mailer: Wakebell x64 Version 3.0\r\n"
               "Reply-To: user@local.test\r\n"
               "X-Priority: 3 (Normal)\r\n"
               "To: <user@local.test>\r\n"
               "Subject: test mail\r\n"
               "MIME-Version: 1.0\r\n"
               "Content-Type: multipart/mixed; boundary=\"test\"\r\n"
               "\r\n"
               "--test\r\n"
               "Content-type: text/plain; charset=Shift_JIS\r\n") +
           (eightBit ? "Content-Transfer-Encoding: 8bit\r\n"
                     : "Content-Transfer-Encoding: 7bit\r\n") +
           "\r\n" + bodyLines + "\r\n--test--\r\n\r\n";
}

// A server without AUTH that takes the test mail whose data is data, line by
// line, offering 8BITMIME; then the steps of end.
std::vector<ScriptStep> MailScript(const std::string& data, std::vector<ScriptStep> end) {
    std::vector<ScriptStep> script = {
        Say("220 ready\r\n"),
        Hear(std::string("EHLO ") + CSmtp().GetLocalHost() + "\r\n", "250-f\r\n250 8BITMIME\r\n"),
        Hear("MAIL FROM:<sender@local.test> BODY=8BITMIME\r\n", "250 ok\r\n"),
        Hear("RCPT TO:<user@local.test>\r\n", "250 ok\r\n"),
        Hear("DATA\r\n", "354 go ahead\r\n"),
    };
    const std::string wire = data + ".\r\n";
    for (std::size_t start = 0; start < wire.size();) {
        const std::size_t next = wire.find("\r\n", start) + 2;
        script.push_back(
            Hear(wire.substr(start, next - start), next == wire.size() ? "250 queued\r\n" : ""));
        start = next;
    }
    script.insert(script.end(), end.begin(), end.end());
    return script;
}

class TestMailTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
    }
};

// Each test gets a fresh aiosmtpd with the test account that records into
// its own folder, so message numbers start at 1.
class TestMailServerTest : public TestMailTest {
  protected:
    void SetUp() override {
        TestMailTest::SetUp();
        m_server = std::make_unique<ServerProcess>(std::vector<std::string>{
            WAKEBELL_DEBIAN_PYTHON, WAKEBELL_AIOSMTPD_SERVER, "--cert",
            m_certificates.File("server.pem"), "--key", m_certificates.File("server.key"), "--user",
            std::string(kTestUser), "--password", std::string(kTestPassword), "--record",
            m_record.Path().string()});
    }

    std::string Port(std::string_view listener) const {
        return std::to_string(m_server->Port(listener));
    }
    std::string Certificate(std::string_view name) const { return m_certificates.File(name); }
    std::string Recorded(int n, std::string_view suffix) const {
        return ReadFile(m_record.Path() / (std::to_string(n) + std::string(suffix)));
    }

  private:
    TestCertificates m_certificates;
    TempFolder m_record;
    std::unique_ptr<ServerProcess> m_server;  // ends before its folder goes
};

TEST_F(TestMailServerTest, TestLinesGoOverTlsAndTheSessionEndsWithQuit) {
    const Outcome sent = Send({.port = Port("tls")});
    EXPECT_EQ(sent.result, 0);
    EXPECT_EQ(sent.report, "Mail was send successfully.\n");
    EXPECT_EQ(sent.stages,
              (Stages{SmtpStage::kConnecting, SmtpStage::kSecuring, SmtpStage::kLoggingIn,
                      SmtpStage::kSending, SmtpStage::kClosing}));
    EXPECT_EQ(Recorded(1, ".envelope"), "sender@local.test\nuser@local.test\n");
    // The test lines hold Shift_JIS bytes, so the text part is 8bit.
    EXPECT_EQ(Recorded(1, ".data"), MailData(TestLines(), true));
    ASSERT_GE(sent.trace.size(), 2U);
    EXPECT_EQ(sent.trace[sent.trace.size() - 2], "QUIT\r\n");
    EXPECT_TRUE(sent.trace.back().starts_with("221 ")) << sent.trace.back();
    // A mail reader takes the user's address for the name and the sender's
    // for the address, and finds one whole text part.
    EXPECT_EQ(RunPythonOn(kMailReaderScript, Recorded(1, ".data")),
              "from 'user@local.test' 'sender@local.test'\n"
              "from raw 'user@local.test' 'sender@local.test'\n"
              "to '' 'user@local.test'\n"
              "to raw '' 'user@local.test'\n"
              "defects []\n"
              "parts ['text/plain']\n");
}

// With the system's CSPRNG each test mail has one Message-ID of its own, in the sender's
// domain, that a mail reader parses without a defect.
TEST_F(TestMailServerTest, EachTestMailHasAValidMessageIdOfItsOwn) {
    constexpr std::string_view kReadIds = R"(import email, email.policy, re, sys
m = email.message_from_bytes(open(sys.argv[1], "rb").read(), policy=email.policy.default)
ids = m.get_all("message-id")
print(len(ids), ids[0].defects, bool(re.fullmatch("<[0-9a-f]{32}@local[.]test>", ids[0])), ids)
)";
    std::vector<std::string> read;
    for (int n = 1; n <= 2; ++n) {
        ASSERT_EQ(Send({.port = Port("tls"), .systemRandom = true}).result, 0);
        read.push_back(RunPythonOn(kReadIds, Recorded(n, ".data")));
        EXPECT_TRUE(read.back().starts_with("1 () True ['<")) << read.back();
    }
    EXPECT_NE(read[0], read[1]);
}

// The typed call sends the same mail and tells what became of it: the
// code, the server's reply before closing (a refusal's, not QUIT's), the
// last stage, and the exchange with the credentials hidden.
TEST_F(TestMailServerTest, TheTypedCallTellsCodeReplyStageAndExchange) {
    const Outcome sent = Send({.port = Port("tls"), .typed = true});
    EXPECT_EQ(sent.report, "Mail was send successfully.\n");
    EXPECT_EQ(sent.typed.result, 0);
    EXPECT_EQ(sent.typed.code, ERR_NONE);
    EXPECT_EQ(sent.typed.lastReply, "250 OK");
    EXPECT_EQ(sent.typed.lastStage, SmtpStage::kClosing);
    EXPECT_EQ(sent.typed.mechanisms, (std::vector<std::string>{"LOGIN", "PLAIN"}));
    EXPECT_EQ(sent.typed.tls.problem, TlsProblem::kNone);
    EXPECT_EQ(Recorded(1, ".data"), MailData(TestLines(), true));
    std::string traced;
    for (const std::string& text : sent.trace) {
        traced += text;
    }
    EXPECT_EQ(sent.typed.exchange, traced);

    const Outcome refused = Send({.port = Port("tls"), .password = "wrong", .typed = true});
    EXPECT_EQ(refused.report, "Error: Bad login or password.\n");
    EXPECT_EQ(refused.typed.result, 1);
    EXPECT_EQ(refused.typed.code, ERR_BAD_LOGIN);
    EXPECT_TRUE(refused.typed.lastReply.starts_with("535 ")) << refused.typed.lastReply;
    EXPECT_EQ(refused.typed.lastStage, SmtpStage::kClosing);
    // What the server offered survives the failed session's closing.
    EXPECT_EQ(refused.typed.mechanisms, (std::vector<std::string>{"LOGIN", "PLAIN"}));
    const std::string& exchange = refused.typed.exchange;
    EXPECT_NE(exchange.find(std::string(kTraceCredentialMarker)), std::string::npos);
    EXPECT_NE(exchange.find(refused.typed.lastReply + "\r\nQUIT\r\n221 "), std::string::npos)
        << exchange;
    for (const std::string& secret : CredentialForms()) {
        EXPECT_EQ(exchange.find(secret), std::string::npos) << secret;
    }
    EXPECT_EQ(exchange.find("wrong"), std::string::npos);

    const Outcome early = Send({.port = "70000", .typed = true});
    EXPECT_EQ(early.typed.code, ERR_BAD_PORT);
    EXPECT_EQ(early.typed.lastReply, "");
    EXPECT_EQ(early.typed.lastStage, std::nullopt);
    EXPECT_EQ(early.typed.exchange, "");
    EXPECT_TRUE(early.typed.mechanisms.empty());
}

// A port that greets in plain text and wants STARTTLS (587): the test connects
// again with STARTTLS and delivers; the exchange holds both connections.
TEST_F(TestMailServerTest, APlainGreetingIsMetWithStartTlsOnASecondConnection) {
    const Outcome sent = Send({.port = Port("starttls"), .typed = true});
    EXPECT_EQ(sent.report, "Mail was send successfully.\n");  // result 0, one line
    EXPECT_TRUE(sent.typed.startTlsAfterPlainGreeting);
    const std::string& exchange = sent.typed.exchange;
    const std::size_t retry = exchange.find(kStartTlsRetryLine);
    EXPECT_LT(exchange.find("tls: plain text: "), retry) << exchange;
    EXPECT_NE(exchange.find("STARTTLS\r\n220 ", retry), std::string::npos) << exchange;
}

// A failed handshake leaves its report in the result: a plain listener met
// with TLS from the start (416: no STARTTLS on the second connection), and a
// certificate out of date (414, the certificate shown).
TEST_F(TestMailServerTest, AFailedHandshakeIsReportedWithWhatTheServerShowed) {
    const Outcome plain = Send({.port = Port("plain"), .securityMode = 1, .typed = true});
    EXPECT_EQ(plain.report, "Error: The STARTTLS command is not supported by the server.\n");
    EXPECT_EQ(plain.typed.code, ERR_STARTTLS_UNSUPPORTED);
    EXPECT_NE(plain.typed.exchange.find("tls: plain text: "), std::string::npos);

    ScriptServer expired({StartTls()}, Certificate("expired.pem"), Certificate("expired.key"));
    const Outcome old =
        Send({.port = std::to_string(expired.Port()), .securityMode = 1, .typed = true});
    EXPECT_EQ(old.typed.code, ERR_TLS);
    EXPECT_EQ(old.stages, (Stages{SmtpStage::kConnecting, SmtpStage::kSecuring}));
    EXPECT_EQ(old.typed.tls.problem, TlsProblem::kExpired);
    ASSERT_TRUE(old.typed.tls.certificate.has_value());
    EXPECT_EQ(old.typed.tls.certificate->notAfter, "2020-01-02 00:00:00 UTC");
    EXPECT_EQ(old.typed.lastReply, "");
    EXPECT_EQ(old.typed.exchange, "tls: expired: certificate has expired\r\n");
}

// 2 upgrades with STARTTLS; 0, 3 and any other mode stay in clear text.
TEST_F(TestMailServerTest, SecurityModesPickTheConnection) {
    const Outcome upgraded = Send({.port = Port("starttls"), .securityMode = 2});
    EXPECT_EQ(upgraded.report, "Mail was send successfully.\n");
    EXPECT_TRUE(upgraded.Traced("STARTTLS\r\n"));
    EXPECT_EQ(upgraded.stages,
              (Stages{SmtpStage::kConnecting, SmtpStage::kSecuring, SmtpStage::kLoggingIn,
                      SmtpStage::kSending, SmtpStage::kClosing}));
    int n = 1;
    EXPECT_EQ(Recorded(n, ".data"), MailData(TestLines(), true));
    for (const int mode : {0, 3}) {
        SCOPED_TRACE(mode);
        const Outcome plain = Send({.port = Port("plain"), .securityMode = mode});
        EXPECT_EQ(plain.result, 0);
        EXPECT_EQ(plain.report, "Mail was send successfully.\n");
        EXPECT_FALSE(plain.Traced("STARTTLS\r\n"));
        EXPECT_EQ(plain.stages, (Stages{SmtpStage::kConnecting, SmtpStage::kLoggingIn,
                                        SmtpStage::kSending, SmtpStage::kClosing}));
        EXPECT_EQ(Recorded(++n, ".data"), MailData(TestLines(), true));
    }
}

// Every failure is 1 and one report line; the port and the body file are
// judged before anything connects.
TEST_F(TestMailServerTest, FailuresReportTheirErrorLine) {
    const Outcome refused = Send({.port = Port("tls"), .password = "wrong"});
    EXPECT_EQ(refused.result, 1);
    EXPECT_EQ(refused.report, "Error: Bad login or password.\n");
    EXPECT_EQ(refused.stages, (Stages{SmtpStage::kConnecting, SmtpStage::kSecuring,
                                      SmtpStage::kLoggingIn, SmtpStage::kClosing}));
    EXPECT_TRUE(refused.Traced("QUIT\r\n"));
    EXPECT_EQ(Recorded(1, ".data"), "");

    const TempFolder files;
    const struct {
        Call call;
        const char* report;
    } early[] = {
        {{.port = "70000"}, "Error: Port number is out of range.\n"},
        {{.port = "-1"}, "Error: Port number is out of range.\n"},
        {{.port = Port("tls"), .bodySource = (files.Path() / "missing.txt").string()},
         "Error: File not exist.\n"},
        {{.port = Port("tls"), .bodySource = files.Path().string()}, "Error: File not exist.\n"},
    };
    for (const auto& c : early) {
        SCOPED_TRACE(c.report);
        const Outcome failed = Send(c.call);
        EXPECT_EQ(failed.result, 1);
        EXPECT_EQ(failed.report, c.report);
        EXPECT_TRUE(failed.stages.empty());
        EXPECT_TRUE(failed.trace.empty());
    }
}

// Body file lines lose their CR LF or LF and nothing else: one-byte and
// empty lines, a line longer than any read buffer, a CR LF that a buffer
// boundary could part, an unterminated last line.
TEST_F(TestMailTest, BodyFileLinesArriveWhole) {
    std::string longLine;
    for (std::size_t i = 0; i < 3000; ++i) {
        longLine += static_cast<char>('a' + i % 26);
    }
    const std::string parted(1998, 'p');
    const std::string japanese = "\x93\xfa\x96\x7b";
    const TempFolder files;
    const std::filesystem::path body = files.Path() / "body.txt";
    std::ofstream(body, std::ios::binary) << "crlf line\r\nlf line\na\n"
                                          << longLine << "\n\r\n\n"
                                          << parted << "\r\n"
                                          << japanese << "\nlast, unterminated";
    const std::string lines = "crlf line\r\nlf line\r\na\r\n" + longLine + "\r\n\r\n\r\n" + parted +
                              "\r\n" + japanese + "\r\nlast, unterminated\r\n";

    ScriptServer server(MailScript(MailData(lines, true), {Hear("QUIT\r\n", "221 bye\r\n")}));
    const Outcome sent = Send(
        {.port = std::to_string(server.Port()), .securityMode = 0, .bodySource = body.string()});
    EXPECT_EQ(sent.report, "Mail was send successfully.\n");
    EXPECT_EQ(sent.result, 0);
    ASSERT_FALSE(sent.stages.empty()) << "never connected; the server would wait for ever";
    EXPECT_EQ(server.Heard(), server.Expected());
}

// The mail went through, but the QUIT after it failed: that is reported,
// which a QUIT left to the destructor could not be.
TEST_F(TestMailTest, AFailedQuitAfterTheMailIsAFailure) {
    const struct {
        const char* name;
        bool closeAfterQuit;  // else the server keeps silent
        milliseconds waitLimit;
        const char* report;
    } cases[] = {
        {"closed", true, kGenerousWait, "Error: Server has closed the connection.\n"},
        {"silent", false, milliseconds(300), "Error: Server not responding.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ScriptStep> end = {Hear("QUIT\r\n")};
        if (c.closeAfterQuit) {
            end.push_back(Close());
        }
        ScriptServer server(MailScript(MailData(TestLines(), true), end));
        const Outcome sent = Send(
            {.port = std::to_string(server.Port()), .securityMode = 0, .waitLimit = c.waitLimit});
        EXPECT_EQ(sent.result, 1);
        EXPECT_EQ(sent.report, c.report);
        ASSERT_FALSE(sent.stages.empty()) << "never connected; the server would wait for ever";
        EXPECT_EQ(sent.stages.back(), SmtpStage::kClosing);
        EXPECT_EQ(server.Heard(), server.Expected());
    }
}

// After a plain greeting, the second connection wants TLS: a server that does not
// offer STARTTLS (416) or refuses it (413) hears nothing more than EHLO, STARTTLS, QUIT.
TEST_F(TestMailTest, TheStartTlsConnectionGoesNoFurtherWithoutTls) {
    const std::string ehlo = std::string("EHLO ") + CSmtp().GetLocalHost() + "\r\n";
    const std::string offers = "250-plain.test\r\n250-AUTH PLAIN LOGIN\r\n250 ";
    const ScriptStep startTls = Hear(ehlo, offers + "STARTTLS\r\n");
    const ScriptStep quit = Hear("QUIT\r\n", "221 bye\r\n");
    const std::pair<std::int32_t, std::vector<ScriptStep>> cases[] = {
        {ERR_STARTTLS_UNSUPPORTED, {Hear(ehlo, offers + "8BITMIME\r\n"), quit}},
        {ERR_REPLY_STARTTLS,
         {startTls, Hear("STARTTLS\r\n", "454 4.7.0 TLS not available\r\n"), quit}},
    };
    for (const auto& [code, second] : cases) {
        SCOPED_TRACE(code);
        std::vector<ScriptStep> script = {Say("220 plain.test\r\n"), Await(), NextConnection(),
                                          Say("220 plain.test\r\n")};
        script.insert(script.end(), second.begin(), second.end());
        ScriptServer server(script);
        const Outcome failed =
            Send({.port = std::to_string(server.Port()), .securityMode = 1, .typed = true});
        EXPECT_EQ(failed.typed.code, code);
        EXPECT_EQ(server.Heard(), server.Expected());
    }
}

// The owner cancels while the client waits for the reply to MAIL FROM, with
// no wait limit: the call ends at once with 419 and sends no QUIT.
TEST_F(TestMailTest, CancelEndsAWaitAtOnceWithoutQuit) {
    ScriptServer server(
        {Say("220 ready\r\n"),
         Hear(std::string("EHLO ") + CSmtp().GetLocalHost() + "\r\n", "250 fake\r\n"),
         Hear("MAIL FROM:<sender@local.test>\r\n")});
    const auto abort = std::make_shared<SmtpAbort>();
    std::atomic<bool> sentMailFrom{false};
    Outcome cancelled;
    const auto started = std::chrono::steady_clock::now();
    AbortOnceBlocked(*abort, sentMailFrom, [&] {
        cancelled = Send({.port = std::to_string(server.Port()),
                          .securityMode = 0,
                          .waitLimit = milliseconds(0),
                          .abort = abort,
                          .alsoTrace = [&](std::string_view text) {
                              sentMailFrom = sentMailFrom || text.starts_with("MAIL FROM:");
                          }});
    });
    EXPECT_LT(std::chrono::steady_clock::now() - started, kGenerousWait);
    EXPECT_EQ(cancelled.result, 1);
    EXPECT_EQ(cancelled.report, "Error: Exchange cancelled.\n");
    EXPECT_EQ(cancelled.stages, (Stages{SmtpStage::kConnecting, SmtpStage::kSending}));
    EXPECT_FALSE(cancelled.Traced("QUIT\r\n"));
    ASSERT_FALSE(cancelled.stages.empty()) << "never connected; the server would wait for ever";
    EXPECT_EQ(server.Heard(), server.Expected());  // nothing after MAIL FROM
}

}  // namespace
