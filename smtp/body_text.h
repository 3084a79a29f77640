// The body lines of a mail, one after another in one block of memory.
//
// A mail may hold a hundred thousand lines. Held as as many strings, each
// costs an allocation; held in one std::string, every doubling copies the
// whole body into fresh memory, so the pages touched (each first touch a
// page fault) add up to twice the body. This block grows with realloc,
// which for large blocks remaps pages instead of copying them.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

class BodyText {
  public:
    // Appends one line (without its line end). Throws std::bad_alloc.
    void Add(std::string_view line);
    std::size_t LineCount() const noexcept { return m_ends.size(); }
    // Line index (below LineCount()); valid until the next Add.
    std::string_view Line(std::size_t index) const noexcept;
    // Every line's bytes run together, without line ends.
    std::string_view All() const noexcept { return {m_bytes.get(), m_size}; }

  private:
    struct Free {
        void operator()(char* bytes) const noexcept { std::free(bytes); }
    };
    std::unique_ptr<char, Free> m_bytes;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    std::vector<std::size_t> m_ends;  // where each line ends in m_bytes
};
