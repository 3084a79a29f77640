// The connection sequence against a scripted server: each case is a table of
// what the server sends and the exact bytes the client must send back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "smtp/sasl.h"
#include "smtp/smtp.h"
#include "tests/smtp/blocked_in_poll.h"
#include "tests/smtp/counting_random.h"
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

// An EHLO reply whose second, last line offers keywords.
std::string Offers(const std::string& keywords) {
    return "250-fake\r\n250 " + keywords + "\r\n";
}

// One set for the whole program: making a set points SSL_CERT_FILE at its CA.
const TestCertificates& Certificates() {
    static const TestCertificates certificates;
    return certificates;
}

struct Outcome {
    int code = 0;  // the ECSmtp code, 0 when the session opened and closed
    std::vector<std::string> heard;
    std::vector<std::string> expected;
    std::string lastReply;  // once the session is open
};

// Opens a session against a scripted server and, when that works, closes it
// again; then waits for the server to have heard everything.
Outcome RunScript(std::vector<ScriptStep> script, SmtpSecurity security = SECURITY_NONE,
                  milliseconds waitLimit = kGenerousWait,
                  const std::string& user = std::string(kTestUser)) {
    ScriptServer server(std::move(script), Certificates().File("server.pem"),
                        Certificates().File("server.key"));
    Outcome outcome;
    std::string trace;
    {
        CSmtp smtp;
        smtp.SetTraceSink([&trace](std::string_view text) { trace += text; });
        smtp.SetWaitLimit(waitLimit);
        smtp.SetRandom(CountingRandom);
        try {
            smtp.OpenSession("127.0.0.1", server.Port(), security, true, user.c_str(),
                             std::string(kTestPassword).c_str());
            outcome.lastReply = smtp.GetLastReply();
            smtp.CloseSession();
        } catch (const ECSmtp& e) {
            outcome.code = e.Code();
        }
        EXPECT_FALSE(smtp.HasSocket());
    }
    outcome.heard = server.Heard();
    outcome.expected = server.Expected();
    for (const std::string& form : CredentialForms()) {
        EXPECT_EQ(trace.find(form), std::string::npos) << form;
    }
    return outcome;
}

struct Case {
    const char* name;
    std::vector<ScriptStep> script;
    int code;
    SmtpSecurity security = SECURITY_NONE;
};

// The greeting, EHLO and the EHLO reply given, then the steps that follow.
std::vector<ScriptStep> AfterEhlo(const std::string& ehloReply, std::vector<ScriptStep> rest) {
    std::vector<ScriptStep> script = {Say("220 ready\r\n"), Hear(Ehlo(), ehloReply)};
    script.insert(script.end(), rest.begin(), rest.end());
    return script;
}

// DIGEST-MD5 against the seeded random source: the client nonce is its
// bytes, the digest URI the address connected to.
std::vector<ScriptStep> DigestMd5Exchange() {
    const DigestInputs inputs{std::string(kTestUser),
                              std::string(kTestPassword),
                              "r",
                              "n",
                              "000102030405060708090a0b0c0d0e0f",
                              "smtp/127.0.0.1"};
    return {Hear("AUTH DIGEST-MD5\r\n", "334 " + Base64Of("realm=\"r\",nonce=\"n\"") + "\r\n"),
            Hear(Base64Of(DigestMd5Response(inputs)) + "\r\n",
                 "334 " + Base64Of("rspauth=" + DigestMd5ResponseAuth(inputs)) + "\r\n"),
            Hear("\r\n", "235 2.7.0 ok\r\n")};
}

TEST(SmtpSessionTest, TranscriptsGiveTheirCodesAndExactBytes) {
    const ScriptStep quit = Hear("QUIT\r\n", "221 bye\r\n");
    const std::string user = Base64Of(kTestUser) + "\r\n";
    const std::string password = Base64Of(kTestPassword) + "\r\n";
    std::vector<ScriptStep> digest = DigestMd5Exchange();
    digest.push_back(quit);
    g_reply521 = 0;
    const std::vector<Case> cases = {
        {"a reply arriving as 25 and 0 OK",
         {SayInChunks({"25", "0 OK\r\n"}), Hear(Ehlo(), "250 fake\r\n"), quit},
         ERR_NONE},
        {"EHLO reply in three chunks, LOGIN preferred",
         {Say("220 ready\r\n"), Hear(Ehlo()),
          SayInChunks({"250-fake\r\n", "250-AUTH PLAIN LOGIN\r\n", "250 8BITMIME\r\n"}),
          Hear("AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n"), Hear(user, "334 UGFzc3dvcmQ6\r\n"),
          Hear(password, "235 2.7.0 ok\r\n"), quit},
         ERR_NONE},
        {"PLAIN preferred to CRAM-MD5, in one line",
         AfterEhlo(Offers("AUTH CRAM-MD5 PLAIN"), {Hear(PlainLine(), "235 2.7.0 ok\r\n"), quit}),
         ERR_NONE},
        {"554 greeting: no EHLO, no QUIT", {Say("554 no service\r\n")}, ERR_SERVER_NOT_READY},
        {"EHLO refused", AfterEhlo("502 no\r\n", {quit}), ERR_REPLY_EHLO},
        {"521 to EHLO: remembered for the mail", AfterEhlo("521 no mail\r\n", {quit}),
         ERR_REPLY_EHLO},
        {"530 to AUTH: no QUIT",
         AfterEhlo(Offers("AUTH LOGIN"), {Hear("AUTH LOGIN\r\n", "530 5.7.0 STARTTLS first\r\n")}),
         ERR_REPLY_AUTH_LOGIN},
        {"504 to AUTH: QUIT",
         AfterEhlo(Offers("AUTH LOGIN"), {Hear("AUTH LOGIN\r\n", "504 5.5.4 no\r\n"), quit}),
         ERR_REPLY_AUTH_LOGIN},
        {"LOGIN user name refused",
         AfterEhlo(Offers("AUTH LOGIN"), {Hear("AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n"),
                                          Hear(user, "535 no\r\n"), quit}),
         ERR_REPLY_AUTH_LOGIN},
        {"LOGIN password refused",
         AfterEhlo(Offers("AUTH LOGIN"),
                   {Hear("AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n"),
                    Hear(user, "334 UGFzc3dvcmQ6\r\n"), Hear(password, "535 5.7.8 no\r\n"), quit}),
         ERR_BAD_LOGIN},
        {"PLAIN refused with 334",
         AfterEhlo(Offers("AUTH PLAIN"), {Hear(PlainLine(), "334 \r\n"), quit}), ERR_BAD_LOGIN},
        {"CRAM-MD5 refused",
         AfterEhlo(Offers("AUTH CRAM-MD5"), {Hear("AUTH CRAM-MD5\r\n", "504 no\r\n"), quit}),
         ERR_REPLY_AUTH_CRAM_MD5},
        {"DIGEST-MD5 refused",
         AfterEhlo(Offers("AUTH DIGEST-MD5"), {Hear("AUTH DIGEST-MD5\r\n", "504 no\r\n"), quit}),
         ERR_REPLY_AUTH_DIGEST_MD5},
        {"DIGEST-MD5 with a known client nonce", AfterEhlo(Offers("AUTH DIGEST-MD5"), digest),
         ERR_NONE},
        {"no mechanism of the four", AfterEhlo(Offers("AUTH XOAUTH2 SCRAM-SHA-1"), {quit}),
         ERR_AUTH_LOGIN_UNSUPPORTED},
        // RFC 5321, 4.1.1.1: keywords only at the start of a line after the
        // first, read from the whole reply (the parser's own table is in
        // capabilities_test.cpp).
        {"a NUL in the EHLO reply hides no AUTH",
         AfterEhlo(std::string("250-fake\r\n250-X\0Y\r\n250 AUTH PLAIN\r\n", 35),
                   {Hear(PlainLine(), "235 2.7.0 ok\r\n"), quit}),
         ERR_NONE},
        {"STARTTLS only as a line's keyword", AfterEhlo(Offers("AUTH STARTTLS"), {quit}),
         ERR_STARTTLS_UNSUPPORTED, SECURITY_STARTTLS},
        {"CRAM-MD5: an empty challenge is not answered",
         AfterEhlo(Offers("AUTH CRAM-MD5"), {Hear("AUTH CRAM-MD5\r\n", "334 \r\n"), quit}),
         ERR_REPLY_AUTH_CRAM_MD5},
        {"CRAM-MD5: a challenge that is not base64 is not answered",
         AfterEhlo(Offers("AUTH CRAM-MD5"),
                   {Hear("AUTH CRAM-MD5\r\n", "334 <1896.697170952@host>\r\n"), quit}),
         ERR_REPLY_AUTH_CRAM_MD5},
        {"server closes before its greeting", {Close()}, ERR_CONNECTION_CLOSED},
        {"server closes after EHLO",
         {Say("220 ready\r\n"), Hear(Ehlo()), Close()},
         ERR_CONNECTION_CLOSED},
        {"STARTTLS not offered: QUIT", AfterEhlo(Offers("AUTH LOGIN"), {quit}),
         ERR_STARTTLS_UNSUPPORTED, SECURITY_STARTTLS},
        {"STARTTLS refused: no handshake, QUIT in clear",
         AfterEhlo(Offers("STARTTLS"), {Hear("STARTTLS\r\n", "454 4.7.0 no TLS\r\n"), quit}),
         ERR_REPLY_STARTTLS, SECURITY_STARTTLS},
        {"bytes after the STARTTLS reply: no handshake, nothing more in clear text",
         AfterEhlo(Offers("STARTTLS"),
                   {Hear("STARTTLS\r\n", "220 go ahead\r\n250-AUTH PLAIN\r\n")}),
         ERR_REPLY_STARTTLS, SECURITY_STARTTLS},
        // The first error wins: the clean-up's QUIT cannot hide it, and none
        // goes to a server that has said it is closing.
        {"535 then close: the refusal, not the QUIT's failure",
         AfterEhlo(Offers("AUTH PLAIN"), {Hear(PlainLine(), "535 5.7.8 no\r\n"), Close()}),
         ERR_BAD_LOGIN},
        {"421 to EHLO: no QUIT", AfterEhlo("421 4.3.2 closing\r\n", {}), ERR_REPLY_EHLO},
        {"421 to AUTH: no QUIT",
         AfterEhlo(Offers("AUTH LOGIN"), {Hear("AUTH LOGIN\r\n", "421 4.3.2 closing\r\n")}),
         ERR_REPLY_AUTH_LOGIN},
        {"STARTTLS: only the second EHLO reply counts",
         AfterEhlo(
             "250-fake\r\n250-AUTH LOGIN\r\n250 STARTTLS\r\n",
             {Hear("STARTTLS\r\n", "220 go ahead\r\n"), StartTls(),
              Hear(Ehlo(), Offers("AUTH PLAIN")), Hear(PlainLine(), "235 2.7.0 ok\r\n"), quit}),
         ERR_NONE, SECURITY_STARTTLS},
        {"TLS reply of 10239 bytes is whole",
         {StartTls(), Say(ReplyOfSize(kSmtpBufferSize - 1)), Hear(Ehlo(), "250 fake\r\n"), quit},
         ERR_NONE,
         SECURITY_TLS},
        {"TLS reply of 10240 bytes in one record is cut, not refused",
         {StartTls(), Say(ReplyOfSize(kSmtpBufferSize)), Hear(Ehlo(), "250 fake\r\n"), quit},
         ERR_NONE,
         SECURITY_TLS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = RunScript(c.script, c.security);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.heard, outcome.expected);
    }
    EXPECT_EQ(g_reply521, 1);  // only a new mail clears it
}

// The base64 form of an 8000-byte name does not fit the send buffer.
TEST(SmtpSessionTest, ALineTooLongForTheSendBufferIsRefusedBeforeAnythingIsSent) {
    const Outcome outcome =
        RunScript(AfterEhlo(Offers("AUTH LOGIN"), {Hear("QUIT\r\n", "221 bye\r\n")}), SECURITY_NONE,
                  kGenerousWait, std::string(8000, 'u'));
    EXPECT_EQ(outcome.code, ERR_COMMAND_TOO_LONG);
    EXPECT_EQ(outcome.heard, outcome.expected);
}

// One rule for plain TCP and TLS: cut to the receive buffer once the code is
// known, 418 past 1 MiB without a final line; and a reply whose bytes trickle
// in (each wait sees one within 10 ms) must still arrive whole within the
// command's time-out (here the wait limit): 402 at once, not after the ten
// seconds the server would keep trickling.
TEST(SmtpSessionTest, LongSlowAndEndlessRepliesAreBoundedOverEitherTransport) {
    const std::string ehloReply = ReplyOfSize(3 * kSmtpBufferSize, "250");
    const std::string endlessReply = ReplyOfSize(std::size_t{1} << 21, "250");
    const std::string greeting = "220 " + std::string(1000, 'x') + "\r\n";
    for (const SmtpSecurity security : {SECURITY_NONE, SECURITY_TLS}) {
        SCOPED_TRACE(security);
        const auto script = [security](std::vector<ScriptStep> steps) {
            if (security == SECURITY_TLS) {
                steps.insert(steps.begin(), StartTls());
            }
            return steps;
        };
        const Outcome cut =
            RunScript(script(AfterEhlo(ehloReply, {Hear("QUIT\r\n", "221 bye\r\n")})), security);
        EXPECT_EQ(cut.code, ERR_NONE);
        EXPECT_EQ(cut.lastReply, ehloReply.substr(0, kSmtpBufferSize - 1));
        EXPECT_EQ(RunScript(script(AfterEhlo(endlessReply, {})), security).code,
                  ERR_REPLY_TOO_LONG);

        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(
            RunScript(script({Trickle(greeting, milliseconds(10))}), security, milliseconds(300))
                .code,
            ERR_NOT_RESPONDING);
        EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(3000));
    }
}

// Every change of the connection's state is one trace text, and the owner
// hears the stages that begin with one.
TEST(SmtpSessionTest, EachChangeOfStateIsTracedOnceAndAnnouncesItsStage) {
    ScriptServer server(
        AfterEhlo(Offers("STARTTLS"),
                  {Hear("STARTTLS\r\n", "220 go ahead\r\n"), StartTls(),
                   Hear(Ehlo(), Offers("AUTH PLAIN")), Hear(PlainLine(), "235 2.7.0 ok\r\n"),
                   Hear("QUIT\r\n", "221 bye\r\n")}),
        Certificates().File("server.pem"), Certificates().File("server.key"));
    std::vector<std::string> states;
    std::vector<SmtpStage> stages;
    {
        CSmtp smtp;
        smtp.SetTraceSink([&states](std::string_view text) {
            if (text.starts_with(kTraceStatePrefix)) {
                states.emplace_back(text.substr(kTraceStatePrefix.size()));
            }
        });
        smtp.SetStageSink([&stages](SmtpStage stage) { stages.push_back(stage); });
        smtp.SetWaitLimit(kGenerousWait);
        smtp.OpenSession("127.0.0.1", server.Port(), SECURITY_STARTTLS, true,
                         std::string(kTestUser).c_str(), std::string(kTestPassword).c_str());
        EXPECT_TRUE(smtp.QuitOwed());
        smtp.CloseSession();
        EXPECT_FALSE(smtp.QuitOwed());
    }
    EXPECT_EQ(server.Heard(), server.Expected());
    EXPECT_EQ(states, (std::vector<std::string>{
                          "no socket -> connecting", "connecting -> connected",
                          "connected -> greeted", "greeted -> securing", "securing -> secured",
                          "secured -> greeted", "greeted -> logging in", "logging in -> ready",
                          "ready -> closing", "closing -> no socket"}));
    EXPECT_EQ(stages, (std::vector<SmtpStage>{SmtpStage::kConnecting, SmtpStage::kSecuring,
                                              SmtpStage::kLoggingIn, SmtpStage::kClosing}));
}

// A socket on 127.0.0.1, at a port of the system's choosing.
struct LoopbackSocket {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;

    LoopbackSocket() {
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        if (bind(fd, generic, length) != 0 || getsockname(fd, generic, &length) != 0) {
            throw std::runtime_error("cannot bind on 127.0.0.1");
        }
    }
    ~LoopbackSocket() { close(fd); }
    std::uint16_t Port() const { return ntohs(address.sin_port); }
};

// A listener with a backlog of 0 that already holds one connection: Linux
// drops every further SYN, so a connect to it never completes.
struct FullListener {
    LoopbackSocket listener;
    LoopbackSocket filler;

    FullListener() {
        if (listen(listener.fd, 0) != 0 ||
            connect(filler.fd, reinterpret_cast<const sockaddr*>(&listener.address),
                    listener.length) != 0) {
            throw std::runtime_error("cannot fill a listener on 127.0.0.1");
        }
    }
    std::uint16_t Port() const { return listener.Port(); }
};

int ConnectCode(std::uint16_t port, milliseconds waitLimit) {
    CSmtp smtp;
    smtp.SetWaitLimit(waitLimit);
    try {
        smtp.OpenSession("127.0.0.1", port, SECURITY_NONE, false, nullptr, nullptr);
    } catch (const ECSmtp& e) {
        EXPECT_FALSE(smtp.HasSocket());
        return e.Code();
    }
    return ERR_NONE;
}

TEST(SmtpSessionTest, SilenceAndUnansweredConnectsRunOutTheWaitLimit) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunScript({}, SECURITY_NONE, kShortWait).code, ERR_NOT_RESPONDING);
    // No answer to the TLS handshake, then none to the greeting over TLS.
    EXPECT_EQ(RunScript({}, SECURITY_TLS, kShortWait).code, ERR_NOT_RESPONDING);
    EXPECT_EQ(RunScript({StartTls()}, SECURITY_TLS, kShortWait).code, ERR_NOT_RESPONDING);

    const FullListener full;
    EXPECT_EQ(ConnectCode(full.Port(), kShortWait), ERR_CONNECT_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - started, kGenerousWait);
}

// Nothing listens: a code of its own, not that of a failed wait.
TEST(SmtpSessionTest, ARefusedConnectionIsTold) {
    const LoopbackSocket boundButNotListening;  // every connect is refused
    EXPECT_EQ(ConnectCode(boundButNotListening.Port(), kGenerousWait), ERR_CONNECTION_REFUSED);
}

// What the last EHLO reply offered stays readable after the failure has
// closed the session, for the owner's report, until the next OpenSession.
// One client for all cases, so that each must forget the one before.
TEST(SmtpSessionTest, TheOfferedMechanismsOutliveTheFailedSession) {
    using Mechanisms = std::vector<std::string>;
    const ScriptStep quit = Hear("QUIT\r\n", "221 bye\r\n");
    const struct {
        const char* name;
        std::vector<ScriptStep> script;
        SmtpSecurity security;
        int code;
        Mechanisms offered;
    } cases[] = {
        {"none of the four", AfterEhlo(Offers("AUTH XOAUTH2 scram-sha-1"), {quit}), SECURITY_NONE,
         ERR_AUTH_LOGIN_UNSUPPORTED, Mechanisms{"XOAUTH2", "SCRAM-SHA-1"}},
        {"a refused EHLO", AfterEhlo("502 no\r\n", {quit}), SECURITY_NONE, ERR_REPLY_EHLO,
         Mechanisms{}},
        {"STARTTLS refused: the reply before it counts",
         AfterEhlo("250-fake\r\n250-AUTH CRAM-MD5\r\n250 STARTTLS\r\n",
                   {Hear("STARTTLS\r\n", "454 4.7.0 no TLS\r\n"), quit}),
         SECURITY_STARTTLS, ERR_REPLY_STARTTLS, Mechanisms{"CRAM-MD5"}},
        {"never greeted", {Close()}, SECURITY_NONE, ERR_CONNECTION_CLOSED, Mechanisms{}},
    };
    CSmtp smtp;
    smtp.SetWaitLimit(kGenerousWait);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptServer server(c.script);
        int code = ERR_NONE;
        try {
            smtp.OpenSession("127.0.0.1", server.Port(), c.security, true,
                             std::string(kTestUser).c_str(), std::string(kTestPassword).c_str());
        } catch (const ECSmtp& e) {
            code = e.Code();
        }
        EXPECT_EQ(code, c.code);
        EXPECT_FALSE(smtp.HasSocket());
        EXPECT_EQ(smtp.GetOfferedMechanisms(), c.offered);
        EXPECT_EQ(server.Heard(), server.Expected());
    }
}

// Opens a session on a worker thread and aborts it from this one once the
// worker, past the announcement of stage, is blocked in poll. The wait limit
// only keeps a client deaf to the abort from hanging the test.
int AbortedOpenCode(std::uint16_t port, SmtpSecurity security, SmtpStage stage) {
    const auto abort = std::make_shared<SmtpAbort>();
    std::atomic<bool> announced{false};
    int code = ERR_NONE;
    AbortOnceBlocked(*abort, announced, [&] {
        CSmtp smtp;
        smtp.SetWaitLimit(kGenerousWait);
        smtp.SetAbort(abort);
        smtp.SetStageSink([&](SmtpStage now) { announced = announced || now == stage; });
        try {
            smtp.OpenSession("127.0.0.1", port, security, false, nullptr, nullptr);
        } catch (const ECSmtp& e) {
            code = e.Code();
            EXPECT_FALSE(smtp.HasSocket());
        }
    });
    return code;
}

// An abort wakes the connect wait and the TLS handshake at once; one fired
// before the session begins ends it before any connection.
TEST(SmtpSessionTest, AnAbortEndsTheWaitInProgress) {
    const auto started = std::chrono::steady_clock::now();
    const FullListener full;
    EXPECT_EQ(AbortedOpenCode(full.Port(), SECURITY_NONE, SmtpStage::kConnecting), ERR_CANCELLED);

    ScriptServer silent({});
    EXPECT_EQ(AbortedOpenCode(silent.Port(), SECURITY_TLS, SmtpStage::kSecuring), ERR_CANCELLED);
    EXPECT_LT(std::chrono::steady_clock::now() - started, kGenerousWait);

    ScriptServer unused({Say("220 ready\r\n")});
    CSmtp early;
    auto fired = std::make_shared<SmtpAbort>();
    fired->Abort();
    early.SetAbort(fired);
    try {
        early.OpenSession("127.0.0.1", unused.Port(), SECURITY_NONE, false, nullptr, nullptr);
        ADD_FAILURE() << "opened after an abort";
    } catch (const ECSmtp& e) {
        EXPECT_EQ(e.Code(), ERR_CANCELLED);
    }
    EXPECT_FALSE(early.HasSocket());
}

}  // namespace
