// A DNS server for tests that real ones are not: a UDP socket on 127.0.0.1
// that takes every query and never answers, or answers each one with a
// record cut short.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class FakeNameserver {
  public:
    enum class Reply { kNever, kMalformed };

    explicit FakeNameserver(Reply reply = Reply::kNever);
    ~FakeNameserver();
    FakeNameserver(const FakeNameserver&) = delete;
    FakeNameserver& operator=(const FakeNameserver&) = delete;

    // "127.0.0.1:port", for DiscoveryOptions::nameserver.
    std::string Nameserver() const;
    // Whether a query is waiting unread (kNever only: kMalformed reads them).
    bool Queried() const;

  private:
    void AnswerMalformed();

    int m_fd;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
