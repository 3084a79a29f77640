// The mail transaction against a scripted server: which replies end it with
// which code, whether QUIT follows, and the exact bytes on the wire.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "smtp/smtp.h"
#include "tests/settings/temp_folder.h"
#include "tests/smtp/counting_random.h"
#include "tests/smtp/python_mail_reader.h"
#include "tests/smtp/script_server.h"

namespace {

constexpr std::chrono::milliseconds kGenerousWait{10'000};
// 00:00:00 on 1 January 2027, UTC (the tests run in UTC).
constexpr std::time_t kNewYear = 1798761600;

std::string Ehlo() {
    return std::string("EHLO ") + CSmtp().GetLocalHost() + "\r\n";
}

// Hear steps for every CR LF line of text, none answered but the last, which
// gets reply.
std::vector<ScriptStep> HearLines(const std::string& text, const std::string& reply = {}) {
    std::vector<ScriptStep> steps;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start) + 2;
        steps.push_back(Hear(text.substr(start, end - start)));
        start = end;
    }
    steps.back() = Hear(steps.back().bytes.front(), reply);
    return steps;
}

std::vector<ScriptStep> Join(std::initializer_list<std::vector<ScriptStep>> parts) {
    std::vector<ScriptStep> script;
    for (const auto& part : parts) {
        script.insert(script.end(), part.begin(), part.end());
    }
    return script;
}

const std::vector<ScriptStep> kGreeted = {Say("220 ready\r\n"), Hear(Ehlo(), "250 fake\r\n")};
const ScriptStep kQuit = Hear("QUIT\r\n", "221 bye\r\n");
// Greeting, EHLO, and the envelope of Configure's mail up to the 354.
const std::vector<ScriptStep> kUntilData =
    Join({kGreeted,
          {Hear("MAIL FROM:<from@example.test>\r\n", "250 ok\r\n"),
           Hear("RCPT TO:<to@example.test>\r\n", "250 ok\r\n"), Hear("DATA\r\n", "354 go\r\n")}});
// The same from a server that offers 8BITMIME, MAIL FROM with body after the path.
std::vector<ScriptStep> UntilData8BitMime(const std::string& body) {
    std::vector<ScriptStep> steps = kUntilData;
    steps[1] = Hear(Ehlo(), "250-fake\r\n250 8BITMIME\r\n");
    steps[2] = Hear("MAIL FROM:<from@example.test>" + body + "\r\n", "250 ok\r\n");
    return steps;
}

// A whole accepted mail whose data is data, then QUIT.
std::vector<ScriptStep> AcceptedMail(const std::string& data, bool offering8BitMime = false) {
    const auto untilData = offering8BitMime ? UntilData8BitMime(" BODY=8BITMIME") : kUntilData;
    return Join({untilData, HearLines(data, "250 queued\r\n"), {kQuit}});
}

// The header of Configure's mail in UTC at kNewYear, up to the body.
std::string Header(const std::string& encoding = "7bit") {
    return "Date: Fri, 1 Jan 2027 00:00:00 +0000\r\n"
           "Message-ID: <000102030405060708090a0b0c0d0e0f@example.test>\r\n"
           "From: Sender <from@example.test>\r\n"
           "X-Priority: 3 (Normal)\r\n"
           "To: <to@example.test>\r\n"
           "Subject: hello\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"test\"\r\n"
           "\r\n"
           "--test\r\n"
           "Content-type: text/plain; charset=Shift_JIS\r\n"
           "Content-Transfer-Encoding: " +
           encoding + "\r\n\r\n";
}

void Configure(CSmtp& smtp, bool withTo) {
    smtp.SetSenderAddress("from@example.test");
    smtp.SetSenderName("Sender");
    smtp.SetSubjectLine("hello");
    if (withTo) {
        smtp.AddRecipient("to@example.test");
    }
}

// The text part's transfer encoding, its decoded bytes, and every part's defects.
constexpr std::string_view kTextPartScript = R"(import email, email.policy, sys
sys.stdout.reconfigure(encoding="latin-1")
m = email.message_from_bytes(open(sys.argv[1], "rb").read(), policy=email.policy.default)
text = next(part for part in m.walk() if not part.is_multipart())
print(text["content-transfer-encoding"], text.get_payload(decode=True).decode("latin-1"),
      [type(d).__name__ for part in m.walk() for d in part.defects])
)";

// Whether this process holds path open close-on-exec; nullopt when it does
// not hold it open at all.
std::optional<bool> OpenCloseOnExec(const std::filesystem::path& path) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != path) {
            continue;
        }
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        std::string field;
        std::string flags;
        while (info >> field >> flags && field != "flags:") {
        }
        return (std::stoul(flags, nullptr, 8) & O_CLOEXEC) != 0;
    }
    return std::nullopt;
}

struct Outcome {
    int code = 0;
    std::vector<std::string> heard;
    std::vector<std::string> expected;
    std::string trace;
    bool socketLeft = false;
};

// Sends one mail configured by Configure and then by setup; closes the
// session when the mail went through.
Outcome RunMail(std::vector<ScriptStep> script, const std::function<void(CSmtp&)>& setup = {},
                bool withTo = true) {
    ScriptServer server(std::move(script));
    Outcome outcome;
    {
        CSmtp smtp;
        smtp.SetTraceSink([&outcome](std::string_view text) {
            if (!text.starts_with(kTraceStatePrefix)) {
                outcome.trace += text;
            }
        });
        smtp.SetWaitLimit(kGenerousWait);
        smtp.SetClock([] { return kNewYear; });
        smtp.SetRandom(CountingRandom);
        smtp.SetServer("127.0.0.1", server.Port(), false);
        Configure(smtp, withTo);
        if (setup) {
            setup(smtp);
        }
        try {
            smtp.SendMail();
            smtp.CloseSession();
        } catch (const ECSmtp& e) {
            outcome.code = e.Code();
        }
        outcome.socketLeft = smtp.HasSocket();
    }
    outcome.heard = server.Heard();
    outcome.expected = server.Expected();
    return outcome;
}

class SmtpMailTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        g_boundary = "test";
    }
};

struct Case {
    const char* name;
    std::vector<ScriptStep> script;
    int code;
    std::function<void(CSmtp&)> setup = {};
    bool withTo = true;
};

// Every refusal ends the transaction where it arrives, and the session with
// QUIT: the server is still taking commands.
TEST_F(SmtpMailTest, RefusalsRaiseTheirCodesAndQuit) {
    const ScriptStep mailFrom = Hear("MAIL FROM:<from@example.test>\r\n", "250 ok\r\n");
    const ScriptStep rcptTo = Hear("RCPT TO:<to@example.test>\r\n", "250 ok\r\n");
    const std::vector<ScriptStep> data = HearLines("DATA\r\n", "354 go\r\n");
    const std::vector<Case> cases = {
        {"sender refused",
         Join({kGreeted, {Hear("MAIL FROM:<from@example.test>\r\n", "550 no\r\n"), kQuit}}),
         ERR_REPLY_MAIL_FROM},
        {"521 to MAIL FROM",
         Join({kGreeted, {Hear("MAIL FROM:<from@example.test>\r\n", "521 closing\r\n"), kQuit}}),
         ERR_REPLY_MAIL_FROM},
        {"no sender: nothing of the transaction", Join({kGreeted, {kQuit}}), ERR_NO_SENDER,
         [](CSmtp& smtp) { smtp.SetSenderAddress(""); }},
        {"recipient refused with 550",
         Join({kGreeted, {mailFrom, Hear("RCPT TO:<to@example.test>\r\n", "550 no\r\n"), kQuit}}),
         ERR_REPLY_RCPT_TO},
        {"a later Bcc recipient refused",
         Join({kGreeted,
               {mailFrom, rcptTo, Hear("RCPT TO:<cc@example.test>\r\n", "251 forwarded\r\n"),
                Hear("RCPT TO:<bcc@example.test>\r\n", "450 busy\r\n"), kQuit}}),
         ERR_REPLY_RCPT_TO,
         [](CSmtp& smtp) {
             smtp.AddBccRecipient("bcc@example.test");
             smtp.AddCcRecipient("cc@example.test");
         }},
        {"DATA refused",
         Join({kGreeted, {mailFrom, rcptTo, Hear("DATA\r\n", "554 no\r\n"), kQuit}}),
         ERR_REPLY_DATA},
        {"the message refused",
         Join({kGreeted,
               {mailFrom, rcptTo},
               data,
               HearLines(Header() + "line\r\n--test--\r\n\r\n.\r\n", "554 spam\r\n"),
               {kQuit}}),
         ERR_MESSAGE_BODY, [](CSmtp& smtp) { smtp.AddBodyLine("line"); }},
        {"no To recipient: after MAIL FROM", Join({kGreeted, {mailFrom, kQuit}}), ERR_NO_RECIPIENT,
         [](CSmtp& smtp) { smtp.AddCcRecipient("cc@example.test"); }, false},
        // The one refusal without QUIT: the server has said it is closing.
        {"421 to RCPT TO: no QUIT",
         Join({kGreeted, {mailFrom, Hear("RCPT TO:<to@example.test>\r\n", "421 closing\r\n")}}),
         ERR_REPLY_RCPT_TO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = RunMail(c.script, c.setup, c.withTo);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.heard, outcome.expected);
        EXPECT_FALSE(outcome.socketLeft);
    }
    EXPECT_EQ(g_reply521, 0);  // cleared by the last mail
}

// Line breaks where none belong, envelope addresses that would break out of
// their angle brackets, attachments that are no regular files and
// attachments too big together are refused before a byte of the mail goes
// out, on a connection already open, which stays open: a bare CR or LF in a
// body line could end the data early and smuggle a second message; in an
// address or header text it could add commands or header lines; a ">" or a
// blank in an address adds ESMTP parameters; /dev/zero never ends, a FIFO
// blocks the open.
TEST_F(SmtpMailTest, BadTextsAndFilesAreRefusedBeforeAnythingIsSent) {
    const TempFolder folder;
    const std::string fifo = (folder.Path() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Sparse files: their sizes count, no disk is written.
    const auto sized = [&folder](const char* name, std::uintmax_t size) {
        const std::filesystem::path path = folder.Path() / name;
        std::ofstream{path};
        std::filesystem::resize_file(path, size);
        return path.string();
    };
    const std::string half1 = sized("half1.bin", 2'700'000);
    const std::string half2 = sized("half2.bin", 2'700'000);
    using Setup = std::function<void(CSmtp&)>;
    const std::vector<std::pair<Setup, int>> cases = {
        {[](CSmtp& s) { s.AddBodyLine("a\n.\nMAIL FROM:<x@y>"); }, ERR_MESSAGE_BODY},
        {[](CSmtp& s) { s.AddBodyLine("\r.\r"); }, ERR_MESSAGE_BODY},
        {[](CSmtp& s) { s.AddBodyLine("\n.\r"); }, ERR_MESSAGE_BODY},
        {[](CSmtp& s) {
             s.AddBodyLine("fine");
             s.AddBodyLine("end\r");
         },
         ERR_MESSAGE_BODY},
        {[](CSmtp& s) { s.SetSenderAddress("a@b>\r\nRCPT TO:<c@d"); }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp& s) { s.SetSenderName("Name\nBcc: x@y"); }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp& s) { s.SetSubjectLine("hi\r\n\r\nbody"); }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp& s) { s.SetMailerText("m\r"); }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp& s) { s.SetReplyAddress("r@x\n"); }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp& s) { s.AddRecipient("t@x", "T\nCc: all@x"); }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp& s) { s.AddCcRecipient("c@x\r\nDATA"); }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp& s) { s.AddBccRecipient("b@x", "\n"); }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp&) { g_boundary = "b\r\nX-Evil: 1"; }, ERR_LINE_BREAK_IN_FIELD},
        {[](CSmtp& s) { s.SetSenderAddress("a@b> SIZE=1"); }, ERR_BAD_ADDRESS_CHARACTER},
        {[](CSmtp& s) { s.AddRecipient("a@b> NOTIFY=SUCCESS"); }, ERR_BAD_ADDRESS_CHARACTER},
        {[](CSmtp& s) { s.AddCcRecipient("<c@x"); }, ERR_BAD_ADDRESS_CHARACTER},
        {[](CSmtp& s) { s.AddBccRecipient("b\t@x"); }, ERR_BAD_ADDRESS_CHARACTER},
        {[](CSmtp& s) { s.AddBccRecipient("b\x7f@x"); }, ERR_BAD_ADDRESS_CHARACTER},
        {[](CSmtp& s) { s.SetSenderAddress("\x01a@b"); }, ERR_BAD_ADDRESS_CHARACTER},
        // Bytes of 0x80 or above: an address cannot be encoded, a boundary is ASCII.
        {[](CSmtp& s) { s.SetSenderAddress("\x91\xbe@x"); }, ERR_BAD_ADDRESS_CHARACTER},
        {[](CSmtp& s) { s.SetReplyAddress("\x91\xbe@x"); }, ERR_BAD_ADDRESS_CHARACTER},
        {[](CSmtp&) { g_boundary = "b\x80"; }, ERR_NO_HEADER},
        {[](CSmtp& s) { s.SetRandom([](auto) { return false; }); }, ERR_NO_RANDOM},
        {[&](CSmtp& s) { s.AddAttachment(folder.Path().c_str()); }, ERR_FILE_NOT_FOUND},
        {[](CSmtp& s) { s.AddAttachment("/dev/zero"); }, ERR_FILE_NOT_FOUND},
        {[&](CSmtp& s) { s.AddAttachment(fifo.c_str()); }, ERR_FILE_NOT_FOUND},
        {[&](CSmtp& s) {
             s.AddAttachment(half1.c_str());
             s.AddAttachment(half2.c_str());
         },
         ERR_MESSAGE_TOO_BIG},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        g_boundary = "test";
        ScriptServer server(Join({kGreeted, {kQuit}}));
        CSmtp smtp;
        smtp.SetWaitLimit(kGenerousWait);
        smtp.SetTraceSink(nullptr);
        smtp.OpenSession("127.0.0.1", server.Port(), SECURITY_NONE, false, nullptr, nullptr);
        Configure(smtp, true);
        cases[i].first(smtp);
        try {
            smtp.SendMail();
            ADD_FAILURE() << "sent";
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.Code(), cases[i].second);
        }
        EXPECT_TRUE(smtp.QuitOwed());
        smtp.CloseSession();
        EXPECT_EQ(server.Heard(), server.Expected());
    }
}

// Lines that begin with a dot go out with one more, so that exactly one
// end-of-data marker is on the wire; a Shift_JIS body is 8bit; lines far
// longer than the send buffer are sent whole.
TEST_F(SmtpMailTest, DataLinesAreStuffedAndSentWhole) {
    const std::string longLine(30000, 'x');
    const std::string sjis = "\x83\x65\x83\x58\x83\x67";  // "test" in katakana
    const std::string data = Header("8bit") + "..\r\n...\r\n..hidden\r\nx.\r\n" + sjis + "\r\n" +
                             longLine + "\r\n\r\n--test--\r\n\r\n.\r\n";
    const Outcome outcome = RunMail(AcceptedMail(data, true), [&](CSmtp& smtp) {
        for (const std::string& line : {std::string("."), std::string(".."), std::string(".hidden"),
                                        std::string("x."), sjis, longLine, std::string()}) {
            smtp.AddBodyLine(line.c_str());
        }
    });
    EXPECT_EQ(outcome.code, ERR_NONE);
    EXPECT_EQ(outcome.heard, outcome.expected);
    // The trace shows each body line as it was sent.
    EXPECT_NE(outcome.trace.find("..hidden\r\n"), std::string::npos);
}

// The text part as a server gets it (RFC 6152): 8bit after BODY=8BITMIME where
// 8BITMIME is offered, else base64 in lines of 76 characters and no byte of 0x80 or
// above in the data; ASCII stays 7bit. A reader decodes the lines joined by CR LF.
TEST_F(SmtpMailTest, TheTextPartIsDeclaredOrEncodedAsTheServerOffers) {
    const std::vector<std::string> sjis = {"\x93\xfa\x96\x7b", "", std::string(80, '\x82')};
    const std::vector<std::string> ascii = {"plain", ""};
    const std::tuple<bool, const std::vector<std::string>*, std::string> cases[] = {
        {true, &sjis, "8bit"}, {false, &sjis, "base64"}, {true, &ascii, "7bit"}};
    for (const auto& [offered, lines, encoding] : cases) {
        SCOPED_TRACE(encoding + (offered ? " offered" : ""));
        std::string joined;
        for (std::size_t i = 0; i < lines->size(); ++i) {
            joined += (i == 0 ? "" : "\r\n") + (*lines)[i];
        }
        const std::string body = encoding == "8bit" ? " BODY=8BITMIME" : "";
        const auto script = Join(
            {offered ? UntilData8BitMime(body) : kUntilData, {HearData("250 queued\r\n"), kQuit}});
        const Outcome outcome = RunMail(script, [lines = lines](CSmtp& smtp) {
            for (const std::string& line : *lines) {
                smtp.AddBodyLine(line.c_str());
            }
        });
        EXPECT_EQ(outcome.code, ERR_NONE);
        ASSERT_GT(outcome.heard.size(), 6U);
        EXPECT_EQ(outcome.heard[1], "MAIL FROM:<from@example.test>" + body + "\r\n");
        std::string wire;  // without the end of data; no line starts with a dot
        for (std::size_t i = 4; i + 2 < outcome.heard.size(); ++i) {
            wire += outcome.heard[i];
            EXPECT_TRUE(outcome.heard[i].size() <= 78 || encoding != "base64") << outcome.heard[i];
        }
        EXPECT_TRUE(wire.starts_with(Header(encoding))) << wire;
        EXPECT_EQ(HasHighBytes(wire), encoding == "8bit");
        EXPECT_EQ(RunPythonOn(kTextPartScript, wire), encoding + " " + joined + " []\n");
    }
}

// Once the server has said 354 it reads everything as message text and
// answers nothing before the end of data: a failure then closes the
// connection without QUIT (which would wait for a reply that never comes)
// and without the end of data (so that the server drops the message).
TEST_F(SmtpMailTest, AFailureInsideTheDataClosesWithoutQuit) {
    const TempFolder folder;
    const std::string missing = (folder.Path() / "missing.bin").string();
    const Outcome noFile =
        RunMail(kUntilData, [&](CSmtp& smtp) { smtp.AddAttachment(missing.c_str()); });
    EXPECT_EQ(noFile.code, ERR_FILE_NOT_FOUND);
    EXPECT_EQ(noFile.heard, noFile.expected);
    EXPECT_FALSE(noFile.socketLeft);
    // The part header was the last block before the failure.
    EXPECT_TRUE(noFile.trace.ends_with("filename=\"missing.bin\"\r\n\r\n")) << noFile.trace;

    const Outcome noClock =
        RunMail(kUntilData, [](CSmtp& smtp) { smtp.SetClock([] { return std::time_t{0}; }); });
    EXPECT_EQ(noClock.code, ERR_TIME);
    EXPECT_EQ(noClock.heard, noClock.expected);
}

// An attachment is read as the regular file it was when opened, opened
// close-on-exec, and counted against the limit as it is read: a file that
// grew after the check before the mail, or grows while it is read, ends the
// mail with 405 inside the data, without QUIT.
TEST_F(SmtpMailTest, AttachmentsAreCountedAsTheyAreRead) {
    const TempFolder folder;
    const std::filesystem::path path = folder.Path() / "growing.bin";
    const std::uintmax_t grown = 6 * 1024 * 1024;
    const struct {
        const char* name;
        std::uintmax_t initial;
        bool whileRead;  // else it grows once DATA is sent, before its part
    } cases[] = {{"grew before its part", 100, false}, {"grows while read", 65536, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        { std::ofstream{path}; }
        std::filesystem::resize_file(path, c.initial);
        bool grew = false;
        bool partStarted = false;
        std::optional<bool> closeOnExec;
        const Outcome outcome = RunMail(kUntilData, [&](CSmtp& smtp) {
            smtp.AddAttachment(path.c_str());
            smtp.SetTraceSink(
                [&](std::string_view text) {
                    if (text.starts_with("--__MESSAGE__ID__")) {
                        partStarted = true;
                    } else if (!grew && (c.whileRead ? partStarted : text == "DATA\r\n")) {
                        closeOnExec = c.whileRead ? OpenCloseOnExec(path) : std::nullopt;
                        std::filesystem::resize_file(path, grown);
                        grew = true;
                    }
                },
                CSmtp::DataTrace::kPerBlock);
        });
        EXPECT_TRUE(grew);
        EXPECT_EQ(outcome.code, ERR_MESSAGE_TOO_BIG);
        EXPECT_FALSE(outcome.socketLeft);
        if (c.whileRead) {
            EXPECT_EQ(closeOnExec, std::optional<bool>(true)) << "open, and close-on-exec";
        } else {
            EXPECT_EQ(outcome.heard, outcome.expected);  // nothing after DATA
        }
    }
}

// A path of any length works (no fixed-size path buffer), and the file name
// is what follows its last slash.
TEST_F(SmtpMailTest, AttachmentPathsOfAnyLengthWork) {
    const TempFolder folder;
    std::filesystem::path path = folder.Path();
    for (int level = 0; level < 6; ++level) {
        path /= std::string(100, static_cast<char>('a' + level));
    }
    std::filesystem::create_directories(path);
    path /= "note.txt";
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                             &std::fclose);
        ASSERT_TRUE(file);
        std::fputs("0123456789", file.get());
    }
    const std::string boundary = "__MESSAGE__ID__54yg6f6h6y456345";
    std::string data = Header() + " \r\n";
    data.replace(data.find("\"test\""), 6, "\"" + boundary + "\"");
    data.replace(data.find("--test"), 6, "--" + boundary);
    data += "--" + boundary +
            "\r\nContent-Type: application/x-msdownload; name=\"note.txt\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"note.txt\"\r\n\r\n"
            "MDEyMzQ1Njc4OQ==\r\n\r\n--" +
            boundary + "--\r\n\r\n.\r\n";
    const Outcome outcome =
        RunMail(AcceptedMail(data), [&](CSmtp& smtp) { smtp.AddAttachment(path.c_str()); });
    EXPECT_GT(path.string().size(), 600U);
    EXPECT_EQ(outcome.code, ERR_NONE);
    EXPECT_EQ(outcome.heard, outcome.expected);
}

// The system log gets data grouped into texts of about 4 KiB (one record is
// one system call); other sinks one text per block. Either way the trace
// holds the same bytes, in order.
TEST_F(SmtpMailTest, GroupedDataTraceHoldsTheSameBytesInFewerTexts) {
    std::string body;
    for (int i = 0; i < 3000; ++i) {
        body += "line " + std::to_string(i) + "\r\n";
    }
    const std::string data = Header() + body + "--test--\r\n\r\n.\r\n";
    std::vector<std::vector<std::string>> traces;
    for (const CSmtp::DataTrace mode : {CSmtp::DataTrace::kPerBlock, CSmtp::DataTrace::kGrouped}) {
        ScriptServer server(AcceptedMail(data));
        std::vector<std::string>& trace = traces.emplace_back();
        CSmtp smtp;
        smtp.SetTraceSink([&trace](std::string_view text) { trace.emplace_back(text); }, mode);
        smtp.SetWaitLimit(kGenerousWait);
        smtp.SetClock([] { return kNewYear; });
        smtp.SetRandom(CountingRandom);
        smtp.SetServer("127.0.0.1", server.Port(), false);
        Configure(smtp, true);
        for (int i = 0; i < 3000; ++i) {
            smtp.AddBodyLine(("line " + std::to_string(i)).c_str());
        }
        smtp.SendMail();
        smtp.CloseSession();
        EXPECT_EQ(server.Heard(), server.Expected());
    }
    const auto joined = [](const std::vector<std::string>& texts) {
        std::string all;
        for (const std::string& text : texts) {
            EXPECT_LE(text.size(), 4096U + 64U);
            all += text;
        }
        return all;
    };
    EXPECT_EQ(joined(traces[0]), joined(traces[1]));
    EXPECT_GT(traces[0].size(), 3000U);
    EXPECT_LT(traces[1].size(), 40U);
}

// A sink that throws, wherever it throws during a failed transaction and
// its clean-up, changes nothing: the first error is raised, QUIT goes out
// once, and the client is left closed, so its destructor has nothing to wait
// for.
TEST_F(SmtpMailTest, AThrowingTraceSinkCannotLeaveTheClientHalfClosed) {
    const std::vector<std::pair<const char*, std::function<bool(std::string_view)>>> cases = {
        {"on QUIT", [](std::string_view text) { return text == "QUIT\r\n"; }},
        {"on QUIT's reply", [](std::string_view text) { return text.starts_with("221"); }},
        {"on closing", [](std::string_view text) { return text.ends_with("-> no socket"); }},
        {"on everything", [](std::string_view) { return true; }},
    };
    for (const auto& [name, throwsOn] : cases) {
        SCOPED_TRACE(name);
        ScriptServer server(Join({kGreeted,
                                  {Hear("MAIL FROM:<from@example.test>\r\n", "250 ok\r\n"),
                                   Hear("RCPT TO:<to@example.test>\r\n", "550 no\r\n"), kQuit}}));
        auto smtp = std::make_unique<CSmtp>();
        smtp->SetWaitLimit(kGenerousWait);
        smtp->SetServer("127.0.0.1", server.Port(), false);
        Configure(*smtp, true);
        smtp->OpenSession("127.0.0.1", server.Port(), SECURITY_NONE, false, nullptr, nullptr);
        smtp->SetTraceSink([&throwsOn](std::string_view text) {
            if (throwsOn(text)) {
                throw std::runtime_error("sink failed");
            }
        });
        try {
            smtp->SendMail();
            ADD_FAILURE() << "the refused recipient passed";
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.Code(), ERR_REPLY_RCPT_TO);
        }
        EXPECT_FALSE(smtp->QuitOwed());
        EXPECT_FALSE(smtp->HasSocket());
        const auto started = std::chrono::steady_clock::now();
        smtp.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - started, kGenerousWait / 10);
        EXPECT_EQ(server.Heard(), server.Expected());
    }
}

// kSummary traces no message text, only one line per mail with its data's
// size and block count (header, each body line, the closing boundary).
TEST_F(SmtpMailTest, SummaryDataTraceIsOneLinePerMailWithoutTheText) {
    const std::string data = Header() + "secret one\r\nsecret two\r\n--test--\r\n\r\n.\r\n";
    std::string trace;  // the texts, each followed by "|"
    const Outcome outcome = RunMail(AcceptedMail(data), [&trace](CSmtp& smtp) {
        smtp.SetTraceSink([&trace](std::string_view text) { (trace += text) += '|'; },
                          CSmtp::DataTrace::kSummary);
        smtp.AddBodyLine("secret one");
        smtp.AddBodyLine("secret two");
    });
    EXPECT_EQ(outcome.code, ERR_NONE);
    EXPECT_EQ(outcome.heard, outcome.expected);
    EXPECT_EQ(trace.find("secret"), std::string::npos) << trace;
    const std::string summary =
        "|<message data: " + std::to_string(data.size() - std::string_view("\r\n.\r\n").size()) +
        " bytes in 4 blocks>|\r\n.\r\n|";
    EXPECT_NE(trace.find(summary), std::string::npos) << trace;
    EXPECT_EQ(trace.find("<message data"), trace.rfind("<message data")) << trace;
}

}  // namespace
