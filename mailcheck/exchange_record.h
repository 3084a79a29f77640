// The exchange of one test mail as the client's trace hands it over, kept
// within a bounded size for the report of a failed test.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class ExchangeRecord {
  public:
    // head and tail: how many bytes of the beginning and of the end are kept
    // once the trace is longer than both together.
    ExchangeRecord(std::size_t head, std::size_t tail) : m_headLimit(head), m_tailLimit(tail) {}

    // Appends one traced text. Throws std::bad_alloc.
    void Add(std::string_view text);

    // Every text in order when they fit; otherwise the texts that fitted in
    // the head whole, the line "[... N bytes left out ...]\r\n" and the end,
    // begun after a line end within its last `tail` bytes.
    std::string Text() const;

  private:
    std::size_t m_headLimit;
    std::size_t m_tailLimit;
    std::string m_head;
    bool m_headFull = false;
    std::string m_tail;
    std::size_t m_dropped = 0;  // bytes gone from the tail's front
};
