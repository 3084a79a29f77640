// A real DNS server for tests: Debian's dnsmasq (/usr/sbin/dnsmasq, package
// dnsmasq-base) on 127.0.0.1 at a free port, answering only from the records
// it is given, in its configuration syntax, one a line:
//   srv-host=_submissions._tcp.example.test,mail.example.test,465,0,1
//   mx-host=example.test,aspmx.l.google.com,10
//   host-record=mail.example.test,127.0.0.1
// It forwards nothing (no upstream servers, no /etc/hosts).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/settings/temp_folder.h"

class DnsmasqServer {
  public:
    // Starts dnsmasq in the foreground and returns once it answers a query
    // (UDP) on its port. Throws std::runtime_error naming what went wrong
    // (dnsmasq missing, no free port, dnsmasq ended, no answer within 10 s),
    // after writing the same text to standard error.
    explicit DnsmasqServer(const std::vector<std::string>& records);
    // Stops dnsmasq and reaps it.
    ~DnsmasqServer();
    DnsmasqServer(const DnsmasqServer&) = delete;
    DnsmasqServer& operator=(const DnsmasqServer&) = delete;

    // "127.0.0.1:port", for DiscoveryOptions::nameserver.
    std::string Nameserver() const;
    std::uint16_t Port() const { return m_port; }

  private:
    // Starts dnsmasq on a free port; false when it ended at once (the port
    // was taken meanwhile, say).
    bool Start();
    bool Answers() const;
    void Stop();
    [[noreturn]] void Fail(const std::string& what);

    TempFolder m_folder;
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
};
