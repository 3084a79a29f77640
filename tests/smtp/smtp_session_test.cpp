// The connection sequence against a scripted server: each case is a table of
// what the server sends and the exact bytes the client must send back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "smtp/smtp.h"
#include "tests/smtp/full_backlog_listener.h"
#include "tests/smtp/script_server.h"
#include "tests/smtp/test_account.h"
#include "tests/smtp/test_certificates.h"

namespace {

using std::chrono::milliseconds;

// Bounds the waits of cases that are not about waiting, so that a faulty
// client fails instead of hanging for the table's minutes.
constexpr milliseconds kGenerousWait{10'000};
constexpr milliseconds kShortWait{250};

std::string Ehlo() {
    return std::string("EHLO ") + CSmtp().GetLocalHost() + "\r\n";
}

std::string PlainLine() {
    std::string message(1, '\0');
    message.append(kTestUser).append(1, '\0').append(kTestPassword);
    return "AUTH PLAIN " + Base64Of(message) + "\r\n";
}

// A whole reply of exactly size bytes (at least 6): lines of 100 bytes
// "<code>-xxx", then a final line "<code> xxx" padded to fill.
std::string ReplyOfSize(std::size_t size, const std::string& code = "220") {
    std::string reply;
    while (size - reply.size() > 200) {
        reply += code + "-" + std::string(94, 'x') + "\r\n";
    }
    return reply + code + " " + std::string(size - reply.size() - 6, 'x') + "\r\n";
}

struct Outcome {
    int code = 0;  // the ECSmtp code, 0 when the session opened and closed
    std::vector<std::string> heard;
    std::vector<std::string> expected;
    bool clientClosed = false;
    std::string trace;
};

// Opens a session against a scripted server and, when that works, closes it
// again, then waits for the client to have closed the connection.
Outcome RunScript(std::vector<ScriptStep> script, SmtpSecurity security = SECURITY_NONE,
                  milliseconds waitLimit = kGenerousWait) {
    static const TestCertificates certificates;
    const ScopedTrust trust(certificates.File("ca.pem"));
    ScriptServer server(std::move(script), certificates.File("server.pem"),
                        certificates.File("server.key"));
    Outcome outcome;
    {
        CSmtp smtp;
        smtp.SetTraceSink([&outcome](std::string_view text) { outcome.trace += text; });
        smtp.SetWaitLimit(waitLimit);
        try {
            smtp.OpenSession("127.0.0.1", server.Port(), security, true,
                             std::string(kTestUser).c_str(), std::string(kTestPassword).c_str());
            smtp.CloseSession();
        } catch (const ECSmtp& e) {
            outcome.code = e.Code();
        }
        EXPECT_FALSE(smtp.HasSocket());
    }
    EXPECT_TRUE(server.WaitUntilDone());
    outcome.heard = server.Heard();
    outcome.expected = server.Expected();
    outcome.clientClosed = server.ClientClosed();
    for (const std::string& form : CredentialForms()) {
        EXPECT_EQ(outcome.trace.find(form), std::string::npos) << form;
    }
    return outcome;
}

struct Case {
    const char* name;
    std::vector<ScriptStep> script;
    int code;
    SmtpSecurity security = SECURITY_NONE;
};

TEST(SmtpSessionTest, TranscriptsGiveTheirCodesAndExactBytes) {
    const std::string ehlo = Ehlo();
    const ScriptStep quit[] = {Hear("QUIT\r\n"), Say("221 bye\r\n")};
    const std::vector<Case> cases = {
        {"greeting, EHLO without AUTH, QUIT",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250 fake\r\n"), quit[0], quit[1]},
         ERR_NONE},
        {"a reply arriving as 25 and 0 OK",
         {SayInChunks({"25", "0 OK\r\n"}), Hear(ehlo), Say("250 fake\r\n"), quit[0], quit[1]},
         ERR_NONE},
        {"EHLO reply in three chunks, AUTH LOGIN",
         {Say("220 ready\r\n"), Hear(ehlo),
          SayInChunks({"250-fake\r\n", "250-AUTH LOGIN PLAIN\r\n", "250 8BITMIME\r\n"}),
          Hear("AUTH LOGIN\r\n"), Say("334 VXNlcm5hbWU6\r\n"), Hear(Base64Of(kTestUser) + "\r\n"),
          Say("334 UGFzc3dvcmQ6\r\n"), Hear(Base64Of(kTestPassword) + "\r\n"),
          Say("235 2.7.0 ok\r\n"), quit[0], quit[1]},
         ERR_NONE},
        {"AUTH PLAIN is one line",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250-fake\r\n250 AUTH CRAM-MD5 PLAIN\r\n"),
          Hear(PlainLine()), Say("235 2.7.0 ok\r\n"), quit[0], quit[1]},
         ERR_NONE},
        {"554 greeting: no EHLO, no QUIT", {Say("554 no service\r\n")}, ERR_SERVER_NOT_READY},
        {"EHLO refused",
         {Say("220 ready\r\n"), Hear(ehlo), Say("502 no\r\n"), quit[0], quit[1]},
         ERR_REPLY_EHLO},
        {"530 to AUTH: no QUIT",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250-fake\r\n250 AUTH LOGIN\r\n"),
          Hear("AUTH LOGIN\r\n"), Say("530 5.7.0 Must issue a STARTTLS command first\r\n")},
         ERR_REPLY_AUTH_LOGIN},
        {"504 to AUTH: QUIT",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250-fake\r\n250 AUTH LOGIN\r\n"),
          Hear("AUTH LOGIN\r\n"), Say("504 5.5.4 no\r\n"), quit[0], quit[1]},
         ERR_REPLY_AUTH_LOGIN},
        {"LOGIN user name refused",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250 AUTH LOGIN\r\n"), Hear("AUTH LOGIN\r\n"),
          Say("334 VXNlcm5hbWU6\r\n"), Hear(Base64Of(kTestUser) + "\r\n"), Say("535 no\r\n"),
          quit[0], quit[1]},
         ERR_REPLY_AUTH_LOGIN},
        {"LOGIN password refused",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250 AUTH LOGIN\r\n"), Hear("AUTH LOGIN\r\n"),
          Say("334 VXNlcm5hbWU6\r\n"), Hear(Base64Of(kTestUser) + "\r\n"),
          Say("334 UGFzc3dvcmQ6\r\n"), Hear(Base64Of(kTestPassword) + "\r\n"),
          Say("535 5.7.8 no\r\n"), quit[0], quit[1]},
         ERR_BAD_LOGIN},
        {"PLAIN refused with 334",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250 AUTH PLAIN\r\n"), Hear(PlainLine()),
          Say("334 \r\n"), quit[0], quit[1]},
         ERR_BAD_LOGIN},
        {"no mechanism of the four",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250 AUTH XOAUTH2 SCRAM-SHA-1\r\n"), quit[0],
          quit[1]},
         ERR_AUTH_LOGIN_UNSUPPORTED},
        {"server closes before its greeting", {Close()}, ERR_CONNECTION_CLOSED},
        {"server closes after EHLO",
         {Say("220 ready\r\n"), Hear(ehlo), Close()},
         ERR_CONNECTION_CLOSED},
        {"STARTTLS not offered: QUIT",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250-fake\r\n250 AUTH LOGIN\r\n"), quit[0],
          quit[1]},
         ERR_STARTTLS_UNSUPPORTED,
         SECURITY_STARTTLS},
        {"STARTTLS refused: no handshake, QUIT in clear",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250-fake\r\n250 STARTTLS\r\n"),
          Hear("STARTTLS\r\n"), Say("454 4.7.0 TLS not available\r\n"), quit[0], quit[1]},
         ERR_REPLY_STARTTLS,
         SECURITY_STARTTLS},
        {"bytes after the STARTTLS reply: no handshake",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250-fake\r\n250 STARTTLS\r\n"),
          Hear("STARTTLS\r\n"), Say("220 go ahead\r\n250-AUTH PLAIN\r\n"), quit[0], quit[1]},
         ERR_REPLY_STARTTLS,
         SECURITY_STARTTLS},
        {"STARTTLS: only the second EHLO reply counts",
         {Say("220 ready\r\n"), Hear(ehlo), Say("250-fake\r\n250-AUTH LOGIN\r\n250 STARTTLS\r\n"),
          Hear("STARTTLS\r\n"), Say("220 go ahead\r\n"), StartTls(), Hear(ehlo),
          Say("250-fake\r\n250 AUTH PLAIN\r\n"), Hear(PlainLine()), Say("235 2.7.0 ok\r\n"),
          quit[0], quit[1]},
         ERR_NONE,
         SECURITY_STARTTLS},
        {"TLS reply of 10239 bytes is whole",
         {StartTls(), Say(ReplyOfSize(kSmtpBufferSize - 1)), Hear(ehlo), Say("250 fake\r\n"),
          quit[0], quit[1]},
         ERR_NONE,
         SECURITY_TLS},
        {"TLS reply of 10240 bytes",
         {StartTls(), Say(ReplyOfSize(kSmtpBufferSize))},
         ERR_NO_MEMORY,
         SECURITY_TLS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = RunScript(c.script, c.security);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.heard, outcome.expected);
        EXPECT_TRUE(outcome.clientClosed || c.script.back().kind == ScriptStep::Kind::kClose);
    }
}

TEST(SmtpSessionTest, A521ReplyIsRememberedForTheMail) {
    g_reply521 = 0;
    const Outcome outcome =
        RunScript({Say("220 ready\r\n"), Hear(Ehlo()), Say("521 not accepting mail\r\n"),
                   Hear("QUIT\r\n"), Say("221 bye\r\n")});
    EXPECT_EQ(outcome.code, ERR_REPLY_EHLO);
    EXPECT_EQ(outcome.heard, outcome.expected);
    EXPECT_EQ(g_reply521, 1);
}

TEST(SmtpSessionTest, LongRepliesAreCutAndEndlessOnesStopped) {
    const std::string ehloReply = ReplyOfSize(3 * kSmtpBufferSize, "250");
    ScriptServer server(
        {Say("220 ready\r\n"), Hear(Ehlo()), Say(ehloReply), Hear("QUIT\r\n"), Say("221 bye\r\n")});
    CSmtp smtp;
    smtp.SetWaitLimit(kGenerousWait);
    ASSERT_TRUE(smtp.OpenSession("127.0.0.1", server.Port(), SECURITY_NONE, true, "", ""));
    EXPECT_EQ(std::string(smtp.GetLastReply()), ehloReply.substr(0, kSmtpBufferSize - 1));
    smtp.CloseSession();

    const Outcome endless = RunScript(
        {Say("220 ready\r\n"), Hear(Ehlo()), Say(ReplyOfSize(std::size_t{1} << 21, "250"))});
    EXPECT_EQ(endless.code, ERR_REPLY_TOO_LONG);
}

TEST(SmtpSessionTest, SilenceAndUnansweredConnectsRunOutTheWaitLimit) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunScript({}, SECURITY_NONE, kShortWait).code, ERR_NOT_RESPONDING);
    // No answer to the TLS handshake, then none to the greeting over TLS.
    EXPECT_EQ(RunScript({}, SECURITY_TLS, kShortWait).code, ERR_NOT_RESPONDING);
    EXPECT_EQ(RunScript({StartTls()}, SECURITY_TLS, kShortWait).code, ERR_NOT_RESPONDING);

    const FullBacklogListener never;
    CSmtp smtp;
    smtp.SetWaitLimit(kShortWait);
    try {
        smtp.OpenSession("127.0.0.1", never.Port(), SECURITY_NONE, false, nullptr, nullptr);
        ADD_FAILURE() << "connected to a full backlog";
    } catch (const ECSmtp& e) {
        EXPECT_EQ(e.Code(), ERR_CONNECT_TIMEOUT);
    }
    EXPECT_FALSE(smtp.HasSocket());
    EXPECT_LT(std::chrono::steady_clock::now() - started, kGenerousWait);
}

TEST(SmtpSessionTest, ARefusedConnectionIsAFailedWait) {
    // Bound but not listening: the port stays ours and every connect is refused.
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    CSmtp smtp;
    smtp.SetWaitLimit(kGenerousWait);
    try {
        smtp.OpenSession("127.0.0.1", ntohs(address.sin_port), SECURITY_NONE, false, nullptr,
                         nullptr);
        ADD_FAILURE() << "connected to a port nobody listens on";
    } catch (const ECSmtp& e) {
        EXPECT_EQ(e.Code(), ERR_SELECT);
    }
    EXPECT_FALSE(smtp.HasSocket());
    close(holder);
}

}  // namespace
