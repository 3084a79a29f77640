#include "smtp/reply_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ScanCase {
    std::vector<std::string> chunks;
    int code;
    std::size_t trailing;
    std::size_t chunksToComplete;  // 0: never completes
};

// A reply is gathered until its final line, whatever the chunking.
TEST(ReplyScannerTest, FindsTheFinalLineAcrossChunks) {
    const std::vector<ScanCase> cases = {
        {{"220 ready\r\n"}, 220, 0, 1},
        {{"250-host\r\n", "250-AUTH LOGIN\r\n", "250 8BITMIME\r\n"}, 250, 0, 3},
        {{"250\r\n"}, 250, 0, 1},
        {{"25", "0 OK\r\n"}, 250, 0, 2},
        {{"250 OK\r", "\n"}, 250, 0, 2},
        {{"250-A\r\n250 B\r\nEXTRA"}, 250, 5, 1},
        {{"250 OK\n", "221 bye\n"}, 0, 0, 0},  // a lone LF never ends a line
        {{"25 OK\r\n\r\nabc def\r\n2500\r\n", "354 go\r\n"}, 354, 0, 2},
        {{"250-a\rb\r\n250 c\r\n"}, 250, 0, 1},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.chunks.front());
        ReplyScanner scanner;
        std::size_t completedAt = 0;
        std::string all;
        for (std::size_t i = 0; i < c.chunks.size(); ++i) {
            all += c.chunks[i];
            if (scanner.Feed(c.chunks[i]) == ReplyScanner::State::kComplete && completedAt == 0) {
                completedAt = i + 1;
            }
        }
        EXPECT_EQ(scanner.state() == ReplyScanner::State::kComplete, c.chunksToComplete != 0);
        EXPECT_EQ(scanner.code(), c.code);
        EXPECT_EQ(scanner.trailing(), c.trailing);
        EXPECT_EQ(completedAt, c.chunksToComplete);
        EXPECT_EQ(scanner.text(), all);
    }
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

}  // namespace
