#include "smtp/reply_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ScanCase {
    const char* what;
    std::vector<std::string> chunks;
    ReplyScanner::State state;  // after the last chunk
    int code;
    std::size_t trailing;
    std::size_t chunksToComplete;  // 0: never completes
};

// A reply is gathered until its final line, whatever the chunking.
TEST(ReplyScannerTest, FindsTheFinalLineAcrossChunks) {
    using S = ReplyScanner::State;
    const std::vector<ScanCase> cases = {
        {"one line", {"220 ready\r\n"}, S::kComplete, 220, 0, 1},
        {"three chunks",
         {"250-host\r\n", "250-AUTH LOGIN\r\n", "250 8BITMIME\r\n"},
         S::kComplete,
         250,
         0,
         3},
        {"code alone", {"250\r\n"}, S::kComplete, 250, 0, 1},
        {"code split", {"25", "0 OK\r\n"}, S::kComplete, 250, 0, 2},
        {"CR LF split", {"250 OK\r", "\n"}, S::kComplete, 250, 0, 2},
        {"bytes after", {"250-A\r\n250 B\r\nEXTRA"}, S::kComplete, 250, 5, 1},
        {"lone LF never ends", {"250 OK\n", "221 bye\n"}, S::kNeedMore, 0, 0, 0},
        {"short, blank, odd lines",
         {"25 OK\r\n\r\nabc def\r\n2500\r\n", "354 go\r\n"},
         S::kComplete,
         354,
         0,
         2},
        {"CR not followed by LF", {"250-a\rb\r\n250 c\r\n"}, S::kComplete, 250, 0, 1},
    };
    for (const ScanCase& c : cases) {
        ReplyScanner scanner;
        std::size_t completedAt = 0;
        std::string all;
        for (std::size_t i = 0; i < c.chunks.size(); ++i) {
            all += c.chunks[i];
            if (scanner.Feed(c.chunks[i]) == S::kComplete && completedAt == 0) {
                completedAt = i + 1;
            }
        }
        EXPECT_EQ(scanner.state(), c.state) << c.what;
        EXPECT_EQ(scanner.code(), c.code) << c.what;
        EXPECT_EQ(scanner.trailing(), c.trailing) << c.what;
        EXPECT_EQ(completedAt, c.chunksToComplete) << c.what;
        EXPECT_EQ(scanner.text(), all) << c.what;
    }
}

TEST(ReplyScannerTest, ByteByByteFindsTheSameReply) {
    const std::string reply = "250-mail.example\r\n250-SIZE 100\r\n250 HELP\r\n";
    ReplyScanner scanner;
    for (std::size_t i = 0; i < reply.size(); ++i) {
        const auto state = scanner.Feed(reply.substr(i, 1));
        EXPECT_EQ(state == ReplyScanner::State::kComplete, i + 1 == reply.size()) << i;
    }
    EXPECT_EQ(scanner.code(), 250);
}

TEST(ReplyScannerTest, GivesUpOnAReplyWithoutEndAndIgnoresLaterChunks) {
    ReplyScanner scanner(16);
    EXPECT_EQ(scanner.Feed("250-0123456789\r\n"), ReplyScanner::State::kNeedMore);
    EXPECT_EQ(scanner.Feed("x"), ReplyScanner::State::kTooLong);
    EXPECT_EQ(scanner.Feed("250 OK\r\n"), ReplyScanner::State::kTooLong);
    EXPECT_EQ(scanner.code(), 0);

    ReplyScanner done;
    done.Feed("220 hi\r\n");
    done.Feed("more");
    EXPECT_EQ(done.text(), "220 hi\r\n");
}

TEST(ReplyHasKeywordTest, CountsOnlyWholeKeywordsBetweenSeparators) {
    const char* ehlo = "250-mail\r\n250-AUTH LOGIN PLAIN\r\n250 STARTTLS\r\n";
    for (const char* keyword : {"AUTH", "LOGIN", "PLAIN", "STARTTLS", "starttls"}) {
        EXPECT_TRUE(ReplyHasKeyword(ehlo, keyword)) << keyword;
    }
    EXPECT_FALSE(ReplyHasKeyword(ehlo, "CRAM-MD5"));
    EXPECT_TRUE(ReplyHasKeyword("250-AUTH=LOGIN\r\n", "AUTH"));
    EXPECT_TRUE(ReplyHasKeyword("250-AUTH=LOGIN\r\n", "LOGIN"));
    EXPECT_TRUE(ReplyHasKeyword("250-auth cram-md5 login\r\n", "LOGIN"));
    EXPECT_FALSE(ReplyHasKeyword("250-X-AUTHX\r\n", "AUTH"));
    EXPECT_FALSE(ReplyHasKeyword("250-AUTH XLOGIN\r\n", "LOGIN"));
    EXPECT_FALSE(ReplyHasKeyword("AUTH LOGIN\r\n", "AUTH")) << "never at the very start";
    EXPECT_FALSE(ReplyHasKeyword("250 AUTH", "AUTH")) << "never as the very last bytes";
    EXPECT_FALSE(ReplyHasKeyword("250 AUTH\r", "AUTH")) << "CR without LF";
    EXPECT_FALSE(ReplyHasKeyword("250 AUTH\n", "AUTH")) << "lone LF";
    EXPECT_FALSE(ReplyHasKeyword(nullptr, "AUTH"));
    EXPECT_FALSE(ReplyHasKeyword(ehlo, nullptr));
    EXPECT_FALSE(ReplyHasKeyword(ehlo, ""));
    EXPECT_FALSE(ReplyHasKeyword("250", "STARTTLS"));
}

}  // namespace
