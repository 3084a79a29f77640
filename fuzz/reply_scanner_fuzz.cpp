// libFuzzer target over reply reading: ReplyScanner fed in chunks whose sizes
// come from the input. Any broken invariant aborts, which libFuzzer reports
// as a crash.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "smtp/reply_scanner.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether line (its CR LF included) ends a reply: at least five bytes, three
// digits, then a space or the CR LF itself.
bool IsFinalLine(std::string_view line) {
    return line.size() >= 5 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
           (line[3] == ' ' || line.size() == 5) && line.substr(line.size() - 2) == "\r\n";
}

// Where the first final line of text ends (just past its CR LF), or npos.
// Cuts the text into lines afresh from the start every time.
std::size_t FirstFinalLineEnd(std::string_view text) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t crlf = text.find("\r\n", start);
        if (crlf == std::string_view::npos) {
            return std::string_view::npos;
        }
        if (IsFinalLine(text.substr(start, crlf + 2 - start))) {
            return crlf + 2;
        }
        start = crlf + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);

    // A small cap now and then, so that abandoning a reply is reached too.
    const std::size_t cap = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::size_t>(0, 300)
                                                : ReplyScanner::kDefaultCap;
    ReplyScanner scanner(cap);
    std::string fed;  // every byte fed so far
    std::string expected;
    auto expectedState = ReplyScanner::State::kNeedMore;

    while (input.remaining_bytes() > 0) {
        const auto chunkSize = input.ConsumeIntegralInRange<std::size_t>(0, 80);
        const std::string chunk = input.ConsumeBytesAsString(chunkSize);
        fed += chunk;
        const ReplyScanner::State state = scanner.Feed(chunk);
        Require(state == scanner.state(), "Feed's result differs from state()");

        if (expectedState == ReplyScanner::State::kNeedMore) {
            expected = fed;
            if (FirstFinalLineEnd(fed) != std::string_view::npos) {
                expectedState = ReplyScanner::State::kComplete;
            } else if (fed.size() > cap) {
                expectedState = ReplyScanner::State::kTooLong;
            }
        }
        Require(state == expectedState, "state differs from the reference");
        Require(scanner.text() == expected,
                "text() is not the chunks fed up to completion, concatenated");
        Require(scanner.trailing() <= scanner.text().size(), "trailing() past text()");

        if (state != ReplyScanner::State::kComplete) {
            Require(scanner.code() == 0, "a code before the reply is complete");
            Require(scanner.trailing() == 0, "trailing bytes before the reply is complete");
            continue;
        }
        const std::string& text = scanner.text();
        const std::size_t end = text.size() - scanner.trailing();
        Require(end == FirstFinalLineEnd(text),
                "the reply ends somewhere else than its first final line");
        const std::size_t lineStart = text.rfind("\r\n", end - 3);
        const std::string_view finalLine = std::string_view(text).substr(
            lineStart == std::string::npos ? 0 : lineStart + 2,
            end - (lineStart == std::string::npos ? 0 : lineStart + 2));
        Require(IsFinalLine(finalLine), "the completed reply's last line is no final line");
        Require(scanner.code() >= 0 && scanner.code() <= 999, "code out of range");
        Require(scanner.code() ==
                    (finalLine[0] - '0') * 100 + (finalLine[1] - '0') * 10 + (finalLine[2] - '0'),
                "code is not the final line's digits");
    }
    return 0;
}
