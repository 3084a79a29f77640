// SendMail against Debian's aiosmtpd on 127.0.0.1. The server requires AUTH,
// takes recipients of local.test only and records every message it accepts:
// its envelope and its data exactly as received, dot-unstuffed. So each mail
// below is checked as a reader would get it, byte for byte.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/base64.h"
#include "smtp/smtp.h"
#include "tests/settings/temp_folder.h"
#include "tests/smtp/child_process.h"
#include "tests/smtp/counting_random.h"
#include "tests/smtp/python_mail_reader.h"
#include "tests/smtp/test_account.h"
#include "tests/smtp/test_certificates.h"

namespace {

constexpr std::time_t kNewYear2027 = 1798761600;  // Fri, 1 Jan 2027 00:00:00 UTC
constexpr std::string_view kParts = "__MESSAGE__ID__54yg6f6h6y456345";

// The header block of a plain one-recipient mail without attachments.
constexpr std::string_view kPlainHeader =
    "Date: Fri, 1 Jan 2027 00:00:00 +0000\r\n"
    "Message-ID: <000102030405060708090a0b0c0d0e0f@local.test>\r\n"
    "From: Tester <sender@local.test>\r\n"
    "X-Priority: 3 (Normal)\r\n"
    "To: <to1@local.test>\r\n"
    "Subject: plain\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b0undary-of-the-text\"\r\n"
    "\r\n"
    "--b0undary-of-the-text\r\n"
    "Content-type: text/plain; charset=Shift_JIS\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "\r\n";

// Parses a recorded message with Python's own MIME parser and prints one
// line per attachment part: the file name as the parser decodes it, the
// decoded size, whether the bytes equal the file of that name in the folder,
// and how many parameters (type included) Content-Type and
// Content-Disposition hold.
constexpr std::string_view kInspector = R"(import email, email.policy, os, sys
message = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.default)
for part in message.walk():
    if part.get_content_disposition() != "attachment":
        continue
    name = part.get_filename()
    data = part.get_payload(decode=True)
    path = os.path.join(sys.argv[2], name)
    same = os.path.isfile(path) and open(path, "rb").read() == data
    print(ascii(name), len(data), same, len(part.get_params()),
          len(part.get_params(header="content-disposition")))
)";

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// size bytes 0, 1, 2, ... 255, 0, 1, ...
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i % 256);
    }
    return bytes;
}

std::string PartHeader(std::string_view parameterValue) {
    return "--" + std::string(kParts) + "\r\nContent-Type: application/x-msdownload; name" +
           std::string(parameterValue) +
           "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename" +
           std::string(parameterValue) + "\r\n\r\n";
}

// The bytes of a header field of data (name with its colon) up to the end
// of its last folded line.
std::string Field(const std::string& data, std::string_view name) {
    const std::string key = "\r\n" + std::string(name) + " ";
    const std::size_t start = data.find(key);
    if (start == std::string::npos) {
        return "";
    }
    std::size_t end = data.find("\r\n", start + key.size());
    while (end != std::string::npos && data.compare(end, 3, "\r\n ") == 0) {
        end = data.find("\r\n", end + 2);
    }
    return data.substr(start + key.size(), end - start - key.size());
}

// The Shift_JIS bytes of a text of RFC 2047 words folded with CR LF blank.
// Fails the test when a word is malformed, longer than 75 characters or
// splits a two-byte character.
std::string DecodeWords(const std::string& text) {
    std::string bytes;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find("\r\n ", start);
        end = end == std::string::npos ? text.size() : end;
        const std::string word = text.substr(start, end - start);
        if (word.size() < 16 || !word.starts_with("=?Shift_JIS?B?") || !word.ends_with("?=")) {
            ADD_FAILURE() << "not an encoded word: " << word;
            return bytes;
        }
        EXPECT_LE(word.size(), 75U) << word;
        const std::string piece = Base64Decode(word.substr(14, word.size() - 16));
        std::size_t i = 0;
        while (i < piece.size()) {
            const auto byte = static_cast<unsigned char>(piece[i]);
            i += (byte >= 0x81 && byte <= 0x9F) || byte >= 0xE0 ? 2 : 1;
        }
        EXPECT_EQ(i, piece.size()) << "a character is split in " << word;
        bytes += piece;
        start = end + 3;
    }
    return bytes;
}

class MailServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetZone("UTC0");
        g_boundary = "b0undary-of-the-text";
        m_server = std::make_unique<ServerProcess>(std::vector<std::string>{
            WAKEBELL_DEBIAN_PYTHON, WAKEBELL_AIOSMTPD_SERVER, "--cert",
            m_certificates.File("server.pem"), "--key", m_certificates.File("server.key"), "--user",
            std::string(kTestUser), "--password", std::string(kTestPassword), "--record",
            m_record.Path().string(), "--auth-required", "--local-domain", "local.test"});
    }

    static void SetZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

    // A client of the listener "plain" or "tls" that logs in with the test
    // account, mails from sender@local.test to to1@local.test and reads the
    // time from a clock fixed at when.
    std::unique_ptr<CSmtp> Client(std::string_view listener = "plain",
                                  std::time_t when = kNewYear2027) {
        auto smtp = std::make_unique<CSmtp>();
        smtp->SetTraceSink([this](std::string_view text) {
            if (!text.starts_with(kTraceStatePrefix)) {  // the exchange, not its states
                m_trace.emplace_back(text);
            }
        });
        smtp->SetWaitLimit(std::chrono::seconds(10));  // a faulty client fails, not hangs
        smtp->SetClock([when] { return when; });
        smtp->SetRandom(CountingRandom);
        smtp->SetSecurity(listener == "tls" ? SECURITY_TLS : SECURITY_NONE);
        smtp->SetServer("127.0.0.1", m_server->Port(listener));
        smtp->SetUserLogin(std::string(kTestUser).c_str());
        smtp->SetUserPassword(std::string(kTestPassword).c_str());
        smtp->SetSenderAddress("sender@local.test");
        smtp->AddRecipient("to1@local.test");
        return smtp;
    }

    std::uint16_t PlainPort() const { return m_server->Port("plain"); }

    // SendMail's error code, 0 when it worked.
    static int Send(CSmtp& smtp) {
        try {
            smtp.SendMail();
        } catch (const ECSmtp& e) {
            return e.Code();
        }
        return 0;
    }

    std::string Recorded(int n, std::string_view suffix) const {
        return ReadFile(m_record.Path() / (std::to_string(n) + std::string(suffix)));
    }

    std::filesystem::path File(const std::string& name, std::string_view bytes) const {
        const std::filesystem::path path = m_files.Path() / name;
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // kInspector's lines for message n.
    std::string Inspect(int n) const {
        const std::filesystem::path script = File("inspect.py", kInspector);
        const std::string command = std::string(WAKEBELL_DEBIAN_PYTHON) + " '" + script.string() +
                                    "' '" +
                                    (m_record.Path() / (std::to_string(n) + ".data")).string() +
                                    "' '" + m_files.Path().string() + "'";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string out;
        for (int c = 0; pipe && (c = std::fgetc(pipe.get())) != EOF;) {
            out += static_cast<char>(c);
        }
        return out;
    }

    // How many traced texts begin with prefix.
    std::size_t Traced(std::string_view prefix) const {
        std::size_t count = 0;
        for (const std::string& text : m_trace) {
            count += text.starts_with(prefix) ? 1U : 0U;
        }
        return count;
    }

    std::vector<std::string> m_trace;

  private:
    TestCertificates m_certificates;
    TempFolder m_record;
    TempFolder m_files;
    std::unique_ptr<ServerProcess> m_server;  // ends before its folders go
};

// Header order, both From forms, priorities, To/Cc lists, the Bcc kept out
// of the header, subjects, the Date zone, 7bit and 8bit, dot-stuffed lines
// and the close delimiter after the body, which a reader takes for one
// whole text part (RFC 2046, 5.1.1).
TEST_F(MailServerTest, HeaderAndBodyArriveByteForByte) {
    auto first = Client();
    first->SetSenderName("Wake Bell");
    first->SetMailerText("Wakebell test");
    first->SetReplyAddress("reply@local.test");
    first->SetPriority(PRIORITY_HIGH);
    first->SetSubjectLine("Plain ASCII subject");
    first->SetHtml(true);                                // no effect without attachments
    first->AddBccRecipient("bcc@local.test", "Hidden");  // added first, sent last
    first->AddCcRecipient("cc1@local.test", "\x93\xfa\x96\x7b");
    first->AddCcRecipient("cc2@local.test");
    first->AddRecipient("to2@local.test", "Two");
    for (const char* line : {"Hello,", ".", "..x", ".hidden", "", " indented"}) {
        first->AddBodyLine(line);
    }
    ASSERT_EQ(Send(*first), 0);
    EXPECT_EQ(Recorded(1, ".data"),
              "Date: Fri, 1 Jan 2027 00:00:00 +0000\r\n"
              "Message-ID: <000102030405060708090a0b0c0d0e0f@local.test>\r\n"
              "From: Wake Bell <sender@local.test>\r\n"
              "X-Mailer: Wakebell test\r\n"
              "Reply-To: reply@local.test\r\n"
              "X-Priority: 2 (High)\r\n"
              "To: <to1@local.test>,Two<to2@local.test>\r\n"
              "Cc: =?Shift_JIS?B?k/qWew==?= <cc1@local.test>,<cc2@local.test>\r\n"
              "Subject: Plain ASCII subject\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"b0undary-of-the-text\"\r\n"
              "\r\n"
              "--b0undary-of-the-text\r\n"
              "Content-type: text/plain; charset=Shift_JIS\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "Hello,\r\n.\r\n..x\r\n.hidden\r\n\r\n indented\r\n"
              "--b0undary-of-the-text--\r\n"
              "\r\n");  // the CR LF that opens the end of data
    EXPECT_TRUE(RunPythonOn(kMailReaderScript, Recorded(1, ".data"))
                    .ends_with("defects []\nparts ['text/plain']\n"));
    EXPECT_EQ(Recorded(1, ".envelope"),
              "sender@local.test\nto1@local.test\nto2@local.test\ncc1@local.test\n"
              "cc2@local.test\nbcc@local.test\n");
    for (const char* stuffed : {"..\r\n", "...x\r\n", "..hidden\r\n"}) {
        EXPECT_EQ(Traced(stuffed), 1U) << stuffed;
    }

    SetZone("JST-9");
    auto second = Client("plain", kNewYear2027 - 9 * 3600);
    second->SetPriority(PRIORITY_LOW);
    second->AddBodyLine("\x93\xfa\x96\x7b");
    second->AddBodyLine("ascii");
    ASSERT_EQ(Send(*second), 0);
    EXPECT_EQ(Recorded(2, ".data"),
              "Date: Fri, 1 Jan 2027 00:00:00 +0900\r\n"
              "Message-ID: <000102030405060708090a0b0c0d0e0f@local.test>\r\n"
              "From:  <mailer@wakebell.invalid>\r\n"
              "X-Priority: 4 (Low)\r\n"
              "To: <to1@local.test>\r\n"
              "Subject:  \r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"b0undary-of-the-text\"\r\n"
              "\r\n"
              "--b0undary-of-the-text\r\n"
              "Content-type: text/plain; charset=Shift_JIS\r\n"
              "Content-Transfer-Encoding: 8bit\r\n"
              "\r\n"
              "\x93\xfa\x96\x7b\r\nascii\r\n"
              "--b0undary-of-the-text--\r\n"
              "\r\n");

    // West of Greenwich, by half hours; Shift_JIS name and folded subject.
    SetZone("NST3:30");
    auto third = Client("plain", kNewYear2027 + 3 * 3600 + 1800);
    const std::string name = "\x96\xda\x8a\x6f\x82\xdc\x82\xb5";
    const std::string subject =
        "A\x96\xda\x8a\x6f\x82\xdc\x82\xb5\x83\x78\x83\x8b\x82\xcc\x90\xdd\x92\xe8\x83\x65\x83"
        "\x58\x83\x67\x83\x81\x81\x5b\x83\x8b\x81\x46\x91\x97\x90\x4d\x82\xcc\x8a\x6d\x94\x46\x82"
        "\xc5\x82\xb7\x81\x69\x8e\xa9\x93\xae\x91\x97\x90\x4d\x81\x6a";
    third->SetSenderName(name.c_str());
    third->SetSubjectLine(subject.c_str());
    third->SetPriority(static_cast<SmtpPriority>(1));
    third->AddBodyLine("x");
    ASSERT_EQ(Send(*third), 0);
    const std::string data = Recorded(3, ".data");
    EXPECT_TRUE(data.starts_with("Date: Fri, 1 Jan 2027 00:00:00 -0330\r\n")) << data;
    EXPECT_NE(data.find("\r\nX-Priority: 3 (Normal)\r\n"), std::string::npos);
    const std::string from = Field(data, "From:");
    ASSERT_TRUE(from.ends_with(" <sender@local.test>")) << from;
    EXPECT_EQ(DecodeWords(from.substr(0, from.size() - 20)), name);
    const std::string folded = Field(data, "Subject:");
    EXPECT_NE(folded.find("\r\n "), std::string::npos) << "59 bytes take two words";
    EXPECT_EQ(DecodeWords(folded), subject);
}

// A body of lines "." reaches the server as such, with one end of data on
// the wire.
TEST_F(MailServerTest, DotLinesArriveAsSent) {
    auto smtp = Client();
    smtp->SetSubjectLine("plain");
    smtp->SetSenderName("Tester");
    std::string body;
    for (int i = 0; i < 2000; ++i) {
        smtp->AddBodyLine(".");
        body += ".\r\n";
    }
    ASSERT_EQ(Send(*smtp), 0);
    EXPECT_EQ(Recorded(1, ".data"),
              std::string(kPlainHeader) + body + "--b0undary-of-the-text--\r\n\r\n");
    std::string wire;  // everything sent between 354 and the reply after it
    bool inData = false;
    for (const std::string& text : m_trace) {
        inData = inData ? !text.starts_with("250 ") : text.starts_with("354 ");
        wire += inData && !text.starts_with("354 ") ? text : "";
    }
    std::size_t ends = 0;
    for (std::size_t at = wire.find("\r\n.\r\n"); at != std::string::npos;
         at = wire.find("\r\n.\r\n", at + 1)) {
        ++ends;
    }
    EXPECT_EQ(ends, 1U);
    EXPECT_TRUE(wire.ends_with("..\r\n--b0undary-of-the-text--\r\n\r\n.\r\n"));
}

// 0, 54 and 100 bytes as base64 lines, the text part as HTML, file names
// cut at the last "/" or "\" and names that need quoting or RFC 2231.
TEST_F(MailServerTest, AttachmentPartsArriveAsBase64Lines) {
    auto smtp = Client();
    smtp->SetSubjectLine("files");
    smtp->SetHtml(true);
    smtp->AddBodyLine("see attached");
    smtp->AddAttachment(File("empty.bin", "").c_str());
    smtp->AddAttachment(File("a54.bin", Pattern(54)).c_str());
    smtp->AddAttachment(File("dir\\c100.bin", Pattern(100)).c_str());
    ASSERT_EQ(Send(*smtp), 0);
    EXPECT_EQ(Recorded(1, ".data"),
              "Date: Fri, 1 Jan 2027 00:00:00 +0000\r\n"
              "Message-ID: <000102030405060708090a0b0c0d0e0f@local.test>\r\n"
              "From:  <mailer@wakebell.invalid>\r\n"
              "X-Priority: 3 (Normal)\r\n"
              "To: <to1@local.test>\r\n"
              "Subject: files\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"__MESSAGE__ID__54yg6f6h6y456345\"\r\n"
              "\r\n"
              "--__MESSAGE__ID__54yg6f6h6y456345\r\n"
              "Content-type: text/html; charset=Shift_JIS\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "see attached\r\n"
              "--b0undary-of-the-text\r\n" +
                  PartHeader("=\"empty.bin\"") + "\r\n" + PartHeader("=\"a54.bin\"") +
                  "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\r\n"
                  "\r\n" +
                  PartHeader("=\"c100.bin\"") +
                  "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\r\n"
                  "Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiYw==\r\n"
                  "\r\n--__MESSAGE__ID__54yg6f6h6y456345--\r\n"
                  "\r\n");

    auto names = Client();
    for (const char* name : {"a\"b;c.bin", "\xe6\x97\xa5\xe6\x9c\xac.bin", "new\nline.bin"}) {
        names->AddAttachment(File(name, "abc").c_str());
    }
    ASSERT_EQ(Send(*names), 0);
    const std::string data = Recorded(2, ".data");
    EXPECT_NE(data.find(PartHeader(R"(="a\"b;c.bin")")), std::string::npos);
    EXPECT_NE(data.find(PartHeader("*=UTF-8''%E6%97%A5%E6%9C%AC.bin")), std::string::npos);
    EXPECT_NE(data.find(PartHeader("*=UTF-8''new%0Aline.bin")), std::string::npos);
    EXPECT_EQ(Inspect(2),
              "'a\"b;c.bin' 3 True 2 2\n"
              "'\\u65e5\\u672c.bin' 3 True 2 2\n"
              "'new\\nline.bin' 3 True 2 2\n");
}

// A missing file ends the mail after its part header, without QUIT inside
// the data, and the server keeps nothing of it; files whose sizes total the
// limit are refused before anything is sent. 5,243,903 bytes pass, batched
// at 92 lines.
TEST_F(MailServerTest, MissingFileSizeLimitAndBatching) {
    const std::filesystem::path big1 = File("big1.bin", Pattern(3000000));
    const std::filesystem::path big2 = File("big2.bin", Pattern(5243903 - 3000000));

    auto missing = Client();
    missing->AddAttachment(File("a54.bin", Pattern(54)).c_str());
    missing->AddAttachment((big1.parent_path() / "missing.bin").c_str());
    EXPECT_EQ(Send(*missing), ERR_FILE_NOT_FOUND);
    EXPECT_EQ(m_trace.back(), PartHeader("=\"missing.bin\""));
    EXPECT_FALSE(missing->HasSocket());
    EXPECT_EQ(Traced("QUIT"), 0U);

    m_trace.clear();
    auto tooBig = Client();
    tooBig->AddAttachment(big1.c_str());
    tooBig->AddAttachment(File("big2-plus.bin", Pattern(5243904 - 3000000)).c_str());
    EXPECT_EQ(Send(*tooBig), ERR_MESSAGE_TOO_BIG);
    EXPECT_TRUE(m_trace.empty()) << "not even connected";
    EXPECT_FALSE(tooBig->HasSocket());

    m_trace.clear();
    auto limit = Client();
    limit->AddAttachment(big1.c_str());
    limit->AddAttachment(big2.c_str());
    ASSERT_EQ(Send(*limit), 0);
    // The first message the server kept: the two above were dropped.
    EXPECT_EQ(Inspect(1), "'big1.bin' 3000000 True 2 2\n'big2.bin' 2243903 True 2 2\n");

    // 55,556 lines of big1: 603 batches of 92 full lines, then 79 full lines
    // and one of 30 bytes (40 characters).
    std::vector<std::string> blocks;
    bool inBig1 = false;
    for (const std::string& text : m_trace) {
        if (text.starts_with("--" + std::string(kParts))) {
            inBig1 = text == PartHeader("=\"big1.bin\"");
        } else if (inBig1) {
            blocks.push_back(text);
        }
    }
    ASSERT_EQ(blocks.size(), 604U);
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
        ASSERT_EQ(blocks[i].size(), 6808U) << i;
    }
    EXPECT_EQ(blocks.back().size(), 79U * 74U + 42U);
}

// A recipient outside local.test (here a Cc) gets 550 and a sender that has
// not logged in gets 530: both raise their codes and close with QUIT.
TEST_F(MailServerTest, RefusalsRaiseAndCloseWithQuit) {
    auto foreign = Client();
    foreign->AddCcRecipient("someone@elsewhere.test");
    EXPECT_EQ(Send(*foreign), ERR_REPLY_RCPT_TO);
    EXPECT_EQ(Traced("550 5.7.1"), 1U);
    EXPECT_EQ(Traced("DATA"), 0U);
    EXPECT_EQ(Traced("QUIT\r\n"), 1U);
    EXPECT_FALSE(foreign->HasSocket());
    EXPECT_FALSE(foreign->QuitOwed());

    auto anonymous = Client();
    anonymous->SetServer("127.0.0.1", PlainPort(), false);
    EXPECT_EQ(Send(*anonymous), ERR_REPLY_MAIL_FROM);
    EXPECT_FALSE(anonymous->HasSocket());

    auto opened = Client();
    ASSERT_TRUE(
        opened->OpenSession("127.0.0.1", PlainPort(), SECURITY_NONE, false, nullptr, nullptr));
    EXPECT_EQ(Send(*opened), ERR_REPLY_MAIL_FROM);
    EXPECT_FALSE(opened->HasSocket());

    EXPECT_EQ(Traced("530 5.7.0"), 2U);
    EXPECT_EQ(Traced("AUTH"), 1U);  // the first client's only
    EXPECT_EQ(Traced("QUIT\r\n"), 3U);
}

// The connection stays open after a mail (here over TLS); the next one
// begins with MAIL FROM and the same message goes out again.
TEST_F(MailServerTest, SecondMailOnOpenConnectionStartsWithMailFrom) {
    auto smtp = Client("tls");
    smtp->SetSenderName("Tester");
    smtp->SetSubjectLine("plain");
    smtp->AddBodyLine("again");
    ASSERT_EQ(Send(*smtp), 0);
    const std::size_t before = m_trace.size();
    ASSERT_EQ(Send(*smtp), 0);
    EXPECT_TRUE(m_trace.at(before).starts_with("MAIL FROM:<sender@local.test>"))
        << m_trace.at(before);
    EXPECT_EQ(Traced("EHLO "), 1U);
    EXPECT_EQ(Traced("AUTH LOGIN"), 1U);
    const std::string expected =
        std::string(kPlainHeader) + "again\r\n--b0undary-of-the-text--\r\n\r\n";
    EXPECT_EQ(Recorded(1, ".data"), expected);
    EXPECT_EQ(Recorded(2, ".data"), expected);
    EXPECT_EQ(Recorded(2, ".envelope"), "sender@local.test\nto1@local.test\n");
}

// No body lines: one line of a blank, then the close delimiter.
TEST_F(MailServerTest, NoBodyLinesSendOneBlankLine) {
    auto smtp = Client();
    smtp->SetSenderName("Tester");
    smtp->SetSubjectLine("plain");
    ASSERT_EQ(Send(*smtp), 0);
    EXPECT_EQ(Recorded(1, ".data"),
              std::string(kPlainHeader) + " \r\n--b0undary-of-the-text--\r\n\r\n");
    EXPECT_EQ(Traced(" \r\n"), 1U);
    EXPECT_TRUE(RunPythonOn(kMailReaderScript, Recorded(1, ".data"))
                    .ends_with("defects []\nparts ['text/plain']\n"));
}

}  // namespace
