// Reading SMTP replies out of the chunks the server sends. No I/O here: the
// client feeds what it receives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Gathers the chunks of one reply until its final line has arrived.
//
// A line ends at the first CR immediately followed by LF; a line whose CR LF
// has not arrived yet is not a line. The final line is a complete line of at
// least five bytes that begins with three decimal digits followed by a space
// or by the CR LF itself (RFC 5321, 4.2: "250 OK", "250"); every other line
// ("250-SIZE", blank, short, not starting with digits) is a continuation.
// Lines ending in a lone LF never end a reply.
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
