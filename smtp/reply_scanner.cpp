// The reply line rule and the gathering of one reply.
#include "smtp/reply_scanner.h"

namespace {

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

}  // namespace

ReplyLine ReadReplyLine(std::string_view line, std::size_t end) noexcept {
    ReplyLine read{line, end, false, 0};
    if (line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
        (line.size() == 3 || line[3] == ' ')) {
        read.final = true;
        read.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    }
    return read;
}

ReplyScanner::State ReplyScanner::Feed(std::string_view chunk) {
    if (m_state != State::kNeedMore) {
        return m_state;
    }
    // Only a CR LF that the new bytes complete can end a line: start the
    // search at the last old byte, so a long line in small chunks stays linear.
    const std::size_t searchFrom = m_text.empty() ? 0 : m_text.size() - 1;
    m_text.append(chunk);
    m_scanFrom = ForEachReplyLine(
        m_text,
        [this](const ReplyLine& line) {
            if (line.final) {
                m_code = line.code;
                m_finalEnd = line.end;
                m_state = State::kComplete;
            }
        },
        m_scanFrom, searchFrom);
    if (m_state == State::kNeedMore && m_text.size() > m_cap) {
        m_state = State::kTooLong;
    }
    return m_state;
}
