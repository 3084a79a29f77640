#include "smtp/reply_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// The one line rule the scanner, the capabilities and the login share: lines
// up to the final one, none past it, an unfinished rest not a line.
TEST(ReplyScannerTest, ReplyLinesEndAtTheFinalLine) {
    using Line = std::pair<std::string, int>;  // the text, the code (0: not final)
    const struct {
        std::string text;
        std::size_t from;
        std::vector<Line> lines;
        std::size_t next;
    } cases[] = {
        {"250-a\r\n250 b\r\nEXTRA\r\n", 0, {{"250-a", 0}, {"250 b", 250}}, 14},
        {"220\r\n", 0, {{"220", 220}}, 5},
        {"250-a\r\n25", 0, {{"250-a", 0}}, 7},
        {"abc\r\n\r\n2500\r\n25 x\r\n354 go\r\n",
         0,
         {{"abc", 0}, {"", 0}, {"2500", 0}, {"25 x", 0}, {"354 go", 354}},
         27},
        {"250 a\n250 b\r", 0, {}, 0},
        {"x\r\n250 y\r\n", 3, {{"250 y", 250}}, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<Line> lines;
        const std::size_t next = ForEachReplyLine(
            c.text,
            [&lines](const ReplyLine& line) {
                lines.push_back({std::string(line.text), line.final ? line.code : 0});
                EXPECT_EQ(line.final, line.code != 0);
            },
            c.from);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(next, c.next);
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
