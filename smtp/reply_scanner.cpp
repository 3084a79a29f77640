#include "smtp/reply_scanner.h"

namespace {

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

}  // namespace

ReplyScanner::State ReplyScanner::Feed(std::string_view chunk) {
    if (m_state != State::kNeedMore) {
        return m_state;
    }
    // Only a CR LF that the new bytes complete can end a line: start the
    // search at the last old byte, so a long line in small chunks stays linear.
    std::size_t searchFrom = m_text.empty() ? 0 : m_text.size() - 1;
    if (searchFrom < m_scanFrom) {
        searchFrom = m_scanFrom;
    }
    m_text.append(chunk);
    for (;;) {
        const std::size_t crlf = m_text.find("\r\n", searchFrom);
        if (crlf == std::string::npos) {
            break;
        }
        const std::size_t start = m_scanFrom;
        const std::size_t length = crlf + 2 - start;
        m_scanFrom = crlf + 2;
        searchFrom = m_scanFrom;
        if (length >= 5 && IsDigit(m_text[start]) && IsDigit(m_text[start + 1]) &&
            IsDigit(m_text[start + 2]) && (length == 5 || m_text[start + 3] == ' ')) {
            m_code = (m_text[start] - '0') * 100 + (m_text[start + 1] - '0') * 10 +
                     (m_text[start + 2] - '0');
            m_finalEnd = m_scanFrom;
            m_state = State::kComplete;
            return m_state;
        }
    }
    if (m_text.size() > m_cap) {
        m_state = State::kTooLong;
    }
    return m_state;
}
