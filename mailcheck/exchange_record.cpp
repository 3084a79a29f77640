// Keeps a test mail's exchange within its head and tail limits.
#include "mailcheck/exchange_record.h"

void ExchangeRecord::Add(std::string_view text) {
    if (!m_headFull && text.size() <= m_headLimit - m_head.size()) {
        m_head += text;
        return;
    }
    m_headFull = true;
    m_tail += text;
    // Trimmed in large steps, so that a long trace is not copied per text.
    if (m_tail.size() > 2 * m_tailLimit) {
        const std::size_t drop = m_tail.size() - m_tailLimit;
        m_tail.erase(0, drop);
        m_dropped += drop;
    }
}

std::string ExchangeRecord::Text() const {
    if (m_dropped == 0 && m_head.size() + m_tail.size() <= m_headLimit + m_tailLimit) {
        return m_head + m_tail;
    }
    std::size_t start = m_tail.size() - m_tailLimit;
    const std::size_t lineEnd = m_tail.find('\n', start);
    start = lineEnd == std::string::npos ? start : lineEnd + 1;
    std::string text = m_head;
    text += "[... " + std::to_string(m_dropped + start) + " bytes left out ...]\r\n";
    text.append(m_tail, start);
    return text;
}
