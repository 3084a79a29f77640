// The header text without a socket: the Date line, encoded words and the
// lines in their order.
#include "smtp/message_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/base64.h"
#include "tests/smtp/python_mail_reader.h"

namespace {

std::tm Local(int year, int month, int day, int weekday, int hour, int minute, int second,
              long offsetSeconds) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_wday = weekday;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_gmtoff = offsetSeconds;
    return local;
}

// The scan goes eight bytes at a time: a high byte at any place of a word
// or of the tail is found.
TEST(MessageHeaderTest, HighBytesAndLineBreaksAreFoundAnywhere) {
    for (std::size_t size = 0; size <= 20; ++size) {
        EXPECT_FALSE(HasHighBytes(std::string(size, '\x7F')));
        for (std::size_t at = 0; at < size; ++at) {
            std::string text(size, 'a');
            text[at] = '\x80';
            EXPECT_TRUE(HasHighBytes(text)) << size << " " << at;
            text[at] = at % 2 == 0 ? '\r' : '\n';
            EXPECT_TRUE(HasLineBreak(text)) << size << " " << at;
        }
    }
}

TEST(MessageHeaderTest, DateLinesFollowRfc5322WithANumericZone) {
    EXPECT_EQ(FormatDateLine(Local(2027, 1, 1, 5, 0, 0, 0, 0)),
              "Date: Fri, 1 Jan 2027 00:00:00 +0000\r\n");
    EXPECT_EQ(FormatDateLine(Local(2026, 12, 7, 1, 9, 5, 3, 9 * 3600)),
              "Date: Mon, 7 Dec 2026 09:05:03 +0900\r\n");
    EXPECT_EQ(FormatDateLine(Local(2026, 7, 31, 0, 23, 59, 60, -(3 * 3600 + 1800))),
              "Date: Sun, 31 Jul 2026 23:59:60 -0330\r\n");
}

// Shift_JIS text becomes encoded words that decode back to the same bytes,
// each at most 75 characters and none ending inside a two-byte character.
TEST(MessageHeaderTest, ShiftJisTextBecomesEncodedWordsCutBetweenCharacters) {
    EXPECT_EQ(EncodeHeaderText("plain ASCII, as it is"), "plain ASCII, as it is");
    EXPECT_EQ(EncodeHeaderText("\x83\x65\x83\x58\x83\x67"), "=?Shift_JIS?B?g2WDWINn?=");

    // Two-byte characters with a one-byte katakana now and then, so that the
    // cut falls at every alignment.
    std::string text;
    for (int i = 0; i < 90; ++i) {
        text += i % 7 == 3 ? "\xB1" : "\x83\x65";
    }
    const std::string encoded = EncodeHeaderText(text);
    std::string decoded;
    std::size_t start = 0;
    while (start < encoded.size()) {
        std::size_t end = encoded.find("\r\n ", start);
        end = end == std::string::npos ? encoded.size() : end;
        const std::string word = encoded.substr(start, end - start);
        ASSERT_LE(word.size(), 75U);
        ASSERT_TRUE(word.starts_with("=?Shift_JIS?B?") && word.ends_with("?=")) << word;
        const std::string bytes = Base64Decode(word.substr(14, word.size() - 16));
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            if (byte == 0x83) {
                ASSERT_LT(i + 1, bytes.size()) << "a character cut in two";
                ++i;
            }
        }
        decoded += bytes;
        start = end + 3;
    }
    EXPECT_EQ(decoded, text);
}

// RFC 5322 asks for lines of at most 78 characters: a long subject, mailer
// or name is encoded (which folds), a long recipient list folded after a comma.
TEST(MessageHeaderTest, NoHeaderLineOutgrowsRfc5322) {
    std::vector<SmtpRecipient> to;
    for (int i = 0; i < 60; ++i) {
        to.push_back(
            {"Recipient Number " + std::to_string(i), "r" + std::to_string(i) + "@x.test"});
    }
    to.push_back({std::string(1200, 'n'), "long@x.test"});
    const std::string subject(1200, 's');
    MessageHeaderFields fields;
    fields.senderAddress = "from@x.test";
    fields.senderName = to.back().name;
    fields.mailer = subject;
    fields.to = &to;
    fields.cc = &to;
    fields.subject = subject;
    fields.boundary = "test";
    const std::string header = ComposeHeaderText(fields, Local(2027, 1, 1, 5, 0, 0, 0, 0));
    std::size_t start = 0;
    while (start < header.size()) {
        const std::size_t end = header.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - start, 78U) << header.substr(start, 60);
        start = end + 2;
    }
    // Every recipient is still there, each once, in order.
    std::size_t at = 0;
    for (const SmtpRecipient& recipient : to) {
        at = header.find("<" + recipient.address + ">", at);
        ASSERT_NE(at, std::string::npos) << recipient.address;
    }
    // Short texts stay as they are.
    EXPECT_EQ(RecipientListText({{"A", "a@x"}, {"", "b@x"}}), "A<a@x>,<b@x>");
}

// Shift_JIS in the subject, the mailer text and a display name reaches the header only
// as encoded words, which Python decodes back to the same bytes without a defect.
TEST(MessageHeaderTest, HighBytesReachTheHeaderOnlyAsEncodedWords) {
    const std::string kana(100, '\x82');  // fifty fullwidth letters
    const std::vector<SmtpRecipient> to = {{"", "to@x.test"}};
    MessageHeaderFields fields;
    fields.senderAddress = "from@x.test";
    fields.senderName = kana;
    fields.mailer = kana;
    fields.to = &to;
    fields.subject = kana;
    fields.boundary = "b";
    const std::string header = ComposeHeaderText(fields, Local(2027, 1, 1, 5, 0, 0, 0, 0));
    EXPECT_FALSE(HasHighBytes(header));
    // The name through the older parser: the modern one puts blanks between encoded words.
    EXPECT_EQ(
        RunPythonOn(
            "import email, email.header, email.policy, email.utils, sys\n"
            "sys.stdout.reconfigure(encoding='shift_jis')\n"
            "data = open(sys.argv[1], 'rb').read()\n"
            "m = email.message_from_bytes(data, policy=email.policy.default)\n"
            "name = email.utils.parseaddr(email.message_from_bytes(data)['from'])[0]\n"
            "print(m['subject'], m['x-mailer'],\n"
            "      b''.join(w for w, c in email.header.decode_header(name)).decode('shift_jis'),\n"
            "      [d for f in ('subject', 'x-mailer', 'from') for d in m[f].defects])\n",
            header + "--b--\r\n"),
        kana + " " + kana + " " + kana + " []\n");
}

// The Message-ID's domain (third) is the sender's (first), else the server's (second),
// when it is a dot-atom domain; a fixed .invalid one otherwise.
TEST(MessageHeaderTest, MessageIdsTakeTheFirstDomainThatIsOne) {
    const char* const cases[][3] = {
        {"\"a@b\"@Example.Test", "mail.test", "Example.Test"},  // the last "@"
        {"nobody", "mail.example.test", "mail.example.test"},
        {"a@", "smtp", "smtp"},
        {"a@[192.0.2.1]", "mail.test", "mail.test"},
        {"a@x..test", "127.0.0.1", "wakebell.invalid"},
        {"a@.x", "x.", "wakebell.invalid"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MessageIdDomain(c[0], c[1]), c[2]) << c[0] << " " << c[1];
    }
    const std::string longest = std::string(250, 'a') + ".xyz";  // 254
    EXPECT_EQ(MessageIdDomain("a@" + longest, ""), "wakebell.invalid");
    EXPECT_EQ(MessageIdDomain("a@" + longest.substr(1), ""), longest.substr(1));
}

// A name holding one of RFC 5322's specials goes out as a quoted-string, so
// that both of Python's parsers read the name and the address that were
// meant, in From, To and Cc; other names stay as they are.
TEST(MessageHeaderTest, DisplayNamesWithSpecialsAreQuotedAndReadBack) {
    const struct {
        std::string name;
        std::string written;  // DisplayNameText
        std::string read;     // the name as both parsers give it, ascii()
        std::string raw;      // the older parser's name when it differs
    } cases[] = {
        {"taro@example.test", "\"taro@example.test\"", "'taro@example.test'", ""},
        {"Doe, John", "\"Doe, John\"", "'Doe, John'", ""},
        {"J. R. \"Bob\" Smith \\ Jr", R"("J. R. \"Bob\" Smith \\ Jr")",
         R"('J. R. "Bob" Smith \\ Jr')", ""},
        {"(c) [x] <y> : ;", "\"(c) [x] <y> : ;\"", "'(c) [x] <y> : ;'", ""},
        {"Wake Bell", "Wake Bell", "'Wake Bell'", ""},
        {"\x93\xfa\x96\x7b", "=?Shift_JIS?B?k/qWew==?=", "'\\u65e5\\u672c'",
         "'=?Shift_JIS?B?k/qWew==?='"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DisplayNameText(c.name), c.written);
        const std::vector<SmtpRecipient> to = {{c.name, "to@x.test"}, {"", "t2@x.test"}};
        const std::vector<SmtpRecipient> cc = {{c.name, "cc@x.test"}};
        MessageHeaderFields fields;
        fields.senderAddress = "from@x.test";
        fields.senderName = c.name;
        fields.to = &to;
        fields.cc = &cc;
        fields.subject = "s";
        fields.boundary = "b";
        const std::string header = ComposeHeaderText(fields, Local(2027, 1, 1, 5, 0, 0, 0, 0));
        EXPECT_NE(header.find("\r\nFrom: " + c.written + " <from@x.test>\r\n"), std::string::npos)
            << header;
        const std::string raw = c.raw.empty() ? c.read : c.raw;
        const std::string read = RunPythonOn(kMailReaderScript, header + "--b--\r\n");
        const auto line = [](const char* field, const std::string& name, const char* address) {
            return std::string(field) + " " + name + " '" + address + "'\n";
        };
        const std::string expected =
            line("from", c.read, "from@x.test") + line("from raw", raw, "from@x.test") +
            line("to", c.read, "to@x.test") + line("to", "''", "t2@x.test") +
            line("to raw", raw, "to@x.test") + line("to raw", "''", "t2@x.test") +
            line("cc", c.read, "cc@x.test") + line("cc raw", raw, "cc@x.test");
        EXPECT_TRUE(read.starts_with(expected)) << read;
    }
    // A quoted form that would outgrow a line is encoded instead.
    EXPECT_TRUE(DisplayNameText(std::string(600, '"')).starts_with("=?Shift_JIS?B?"));
}

}  // namespace
