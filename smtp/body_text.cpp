// Storing and reading the body lines in their one block.
#include "smtp/body_text.h"

#include <cstring>
#include <new>

void BodyText::Add(std::string_view line) {
    if (line.size() > m_capacity - m_size) {
        std::size_t capacity = m_capacity == 0 ? 4096 : m_capacity;
        while (line.size() > capacity - m_size) {
            capacity *= 2;
        }
        void* grown = std::realloc(m_bytes.get(), capacity);
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        static_cast<void>(m_bytes.release());  // realloc took it over
        m_bytes.reset(static_cast<char*>(grown));
        m_capacity = capacity;
    }
    if (!line.empty()) {
        std::memcpy(m_bytes.get() + m_size, line.data(), line.size());
    }
    m_size += line.size();
    m_ends.push_back(m_size);
}

std::string_view BodyText::Line(std::size_t index) const noexcept {
    const std::size_t start = index == 0 ? 0 : m_ends[index - 1];
    return {m_bytes.get() + start, m_ends[index] - start};
}
