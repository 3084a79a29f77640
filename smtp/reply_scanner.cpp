#include "smtp/reply_scanner.h"

#include <cstring>

namespace {

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

char Lower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
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

bool ReplyHasKeyword(const char* text, const char* keyword) noexcept {
    if (text == nullptr || keyword == nullptr) {
        return false;
    }
    const std::size_t n = std::strlen(text);
    const std::size_t k = std::strlen(keyword);
    if (k == 0 || n < k) {
        return false;
    }
    for (std::size_t i = 1; i + k < n + 1; ++i) {
        const char before = text[i - 1];
        if (before != ' ' && before != '-' && before != '=') {
            continue;
        }
        if (i + k >= n) {
            break;
        }
        const char after = text[i + k];
        const bool endsWell = after == ' ' || after == '=' ||
                              (after == '\r' && i + k + 1 < n && text[i + k + 1] == '\n');
        if (!endsWell) {
            continue;
        }
        bool same = true;
        for (std::size_t j = 0; j < k && same; ++j) {
            same = Lower(text[i + j]) == Lower(keyword[j]);
        }
        if (same) {
            return true;
        }
    }
    return false;
}
