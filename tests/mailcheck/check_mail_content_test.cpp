// The test mail's fixed lines, the small conversions of its arguments and
// the bounded record of its exchange.
#include "mailcheck/check_mail_content.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailcheck/exchange_record.h"

namespace {

// The UTF-8 form of CP932 bytes; "<invalid>" when iconv refuses them.
std::string Utf8FromCp932(std::string_view bytes) {
    const iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return "<no converter>";
    }
    std::string in(bytes);
    std::string out(in.size() * 3 + 1, '\0');
    char* from = in.data();
    char* to = out.data();
    std::size_t fromLeft = in.size();
    std::size_t toLeft = out.size();
    const std::size_t done = iconv(converter, &from, &fromLeft, &to, &toLeft);
    iconv_close(converter);
    if (done == static_cast<std::size_t>(-1) || fromLeft != 0) {
        return "<invalid>";
    }
    out.resize(out.size() - toLeft);
    return out;
}

TEST(TestMailContentTest, PortTextReadsAsADecimalNumber) {
    const struct {
        const char* text;
        std::optional<std::uint16_t> port;
    } cases[] = {
        {"587", 587},
        {"", 0},
        {" 25x", 25},
        {"\t+25", 25},
        {"-0", 0},
        {"abc", 0},
        {"65535", 65535},
        {"00000000000000000025", 25},
        {"65536", std::nullopt},
        {"-1", std::nullopt},
        {"99999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortFromText(c.text), c.port) << '"' << c.text << '"';
    }
}

TEST(TestMailContentTest, SecurityModeAndLineEnds) {
    EXPECT_EQ(SecurityFromMode(1), SECURITY_TLS);
    EXPECT_EQ(SecurityFromMode(2), SECURITY_STARTTLS);
    for (const int other : {0, 3, -1}) {
        EXPECT_EQ(SecurityFromMode(other), SECURITY_NONE) << other;
    }

    const struct {
        std::string_view line;
        std::string_view kept;
    } lines[] = {
        {"a\r\n", "a"}, {"a\n", "a"}, {"a", "a"}, {"a\r", "a\r"},
        {"\r\n", ""},   {"\n", ""},   {"", ""},   {"a\n\r\n", "a\n"},
    };
    for (const auto& l : lines) {
        EXPECT_EQ(WithoutLineEnd(l.line), l.kept) << testing::PrintToString(std::string(l.line));
    }
}

TEST(TestMailContentTest, TestLinesAreTheJapaneseTextInCp932) {
    const std::array<std::string_view, 4> expected = {
        "Wakebell\u3000テストOKです。",
        "このデスクトップアプリは電源の状態が変わったとき指定された",
        "メールアドレスにメールを送信するものです。",
        "送信するメールの種類はログオン、ログオフ、スリープ、スタンバイの４つです。",
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Utf8FromCp932(kTestMailLines[i]), expected[i]) << "line " << i;
    }
    EXPECT_EQ(kTestLinesMarkerText, std::string_view("\x07", 1));
}

// Short exchanges are kept whole; long ones keep their first texts that
// fit and their last lines, with the count of what went between.
TEST(TestMailContentTest, TheExchangeKeepsItsBeginningAndItsEnd) {
    const struct {
        const char* name;
        std::vector<std::string> texts;
        std::string kept;
    } cases[] = {
        {"fits", {"220 a\r\n", "EHLO b\r\n", "250 c\r\n"}, "220 a\r\nEHLO b\r\n250 c\r\n"},
        {"head full, tail fits",
         {"0123456789\r\n", "abc\r\n", "de\r\n"},
         "0123456789\r\nabc\r\nde\r\n"},
        {"cut at a line end",
         {"head\r\n", "a long text\r\n", "line 1\r\nline 2\r\n", "x\r\n"},
         "head\r\n[... 21 bytes left out ...]\r\nline 2\r\nx\r\n"},
        {"trimmed many times, no line end", std::vector<std::string>(100, "0123456789"),
         "0123456789[... 978 bytes left out ...]\r\n890123456789"},
    };
    for (const auto& c : cases) {
        ExchangeRecord record(12, 12);
        for (const std::string& text : c.texts) {
            record.Add(text);
        }
        EXPECT_EQ(record.Text(), c.kept) << c.name;
    }
}

}  // namespace
