// Gathering one reply out of the chunks the server sends.
#include "smtp/reply_scanner.h"

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
