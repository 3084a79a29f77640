// Reading SMTP replies: the one rule for a reply's lines and its final
// line, and gathering a reply out of the chunks the server sends. No I/O
// here: the client feeds what it receives.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

// One complete line of a reply.
struct ReplyLine {
    std::string_view text;  // without its CR LF
    std::size_t end = 0;    // where the next line begins
    // The reply's final line (RFC 5321, 4.2: "250 OK", "250"): three
    // decimal digits followed by a space or by the CR LF itself.
    bool final = false;
    int code = 0;  // the final line's three digits; 0 for any other line
};

// The rule for one line, given without its CR LF.
inline ReplyLine ReadReplyLine(std::string_view line, std::size_t end) noexcept {
    const auto digit = [&line](std::size_t at) { return line[at] >= '0' && line[at] <= '9'; };
    ReplyLine read{line, end, false, 0};
    if (line.size() >= 3 && digit(0) && digit(1) && digit(2) &&
        (line.size() == 3 || line[3] == ' ')) {
        read.final = true;
        read.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    }
    return read;
}

// Hands fn(const ReplyLine&) each complete line of text from byte `from` on,
// in order, up to and including the final line. A line ends at the first CR
// immediately followed by LF; bytes after the last CR LF are no line yet,
// and lines ending in a lone LF never end a reply. searchFrom, when above
// from, is where the first line's CR LF is looked for (the caller knows
// none begins earlier). Returns where the first line not handed over
// begins: past the final line, or at the incomplete rest.
template <typename LineFn>
std::size_t ForEachReplyLine(std::string_view text, LineFn&& fn, std::size_t from = 0,
                             std::size_t searchFrom = 0) {
    std::size_t search = std::max(from, searchFrom);
    for (;;) {
        const std::size_t crlf = text.find("\r\n", search);
        if (crlf == std::string_view::npos) {
            return from;
        }
        const ReplyLine line = ReadReplyLine(text.substr(from, crlf - from), crlf + 2);
        from = search = line.end;
        fn(line);
        if (line.final) {
            return from;
        }
    }
}

// Gathers the chunks of one reply until its final line has arrived
// (ForEachReplyLine); every other line ("250-SIZE", blank, short, not
// starting with digits) is a continuation.
class ReplyScanner {
  public:
    enum class State { kNeedMore, kComplete, kTooLong };

    // A reply whose bytes pass this cap without a final line is abandoned.
    static constexpr std::size_t kDefaultCap = std::size_t{1} << 20;

    explicit ReplyScanner(std::size_t cap = kDefaultCap) : m_cap(cap) {}

    // Appends one chunk. Once the reply is complete or too long, further
    // chunks are ignored.
    State Feed(std::string_view chunk);

    State state() const noexcept { return m_state; }
    // The reply's code (the final line's three digits); 0 until complete.
    int code() const noexcept { return m_code; }
    // Everything received, bytes after the final line included.
    const std::string& text() const noexcept { return m_text; }
    // How many bytes followed the final line's CR LF.
    std::size_t trailing() const noexcept {
        return m_state == State::kComplete ? m_text.size() - m_finalEnd : 0;
    }

  private:
    std::size_t m_cap;
    std::string m_text;
    std::size_t m_scanFrom = 0;  // start of the first line not yet complete
    std::size_t m_finalEnd = 0;
    int m_code = 0;
    State m_state = State::kNeedMore;
};
