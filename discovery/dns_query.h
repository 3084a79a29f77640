// DNS lookups for the discovery through c-ares: SRV, MX and A records, each
// batch bounded by a deadline and ended at once by an abort.
//
// c-ares builds the queries and parses the answers (ares_parse_srv_reply,
// ares_parse_mx_reply, ares_parse_a_reply); nothing here reads a DNS packet
// by hand. Waiting is a poll on c-ares's sockets and the abort's descriptor,
// never past the deadline.
//
// Error model: nothing throws but std::bad_alloc; each lookup says how it
// ended (DnsStatus).
#pragma once

#include <ares.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "smtp/smtp_abort.h"

enum class DnsStatus {
    kAnswered,   // records came (possibly none that are usable)
    kNoAnswer,   // the name or the record type does not exist, the server
                 // refused or failed, or no resolver could be set up
    kBadAnswer,  // an answer c-ares could not parse, or one too large to use
    kTimedOut,   // the deadline passed first
    kCancelled,  // the abort fired
};

struct SrvRecord {
    std::string target;  // "." when the service is not offered (RFC 2782)
    std::uint16_t port = 0;
    std::uint16_t priority = 0;
    std::uint16_t weight = 0;
};

struct MxRecord {
    std::string host;
    std::uint16_t preference = 0;
};

template <typename Record>
struct DnsAnswer {
    DnsStatus status = DnsStatus::kNoAnswer;
    std::vector<Record> records;
};

// Answers with more records than this, or a name longer than DNS allows,
// are kBadAnswer: no honest mail domain needs them.
inline constexpr std::size_t kMaxDnsRecords = 64;

class DnsResolver {
  public:
    // nameserver: "" for the system's configuration (/etc/resolv.conf), or
    // "127.0.0.1:5353"-style servers (ares_set_servers_ports_csv) that then
    // receive every query. abort may be null. A resolver that cannot be set
    // up answers every lookup kNoAnswer.
    DnsResolver(const std::string& nameserver, std::shared_ptr<const SmtpAbort> abort);
    ~DnsResolver();
    DnsResolver(const DnsResolver&) = delete;
    DnsResolver& operator=(const DnsResolver&) = delete;

    bool Ready() const noexcept { return m_channel != nullptr; }

    // One answer per name, in the order of names; the queries run at once.
    std::vector<DnsAnswer<SrvRecord>> Srv(const std::vector<std::string>& names,
                                          std::chrono::steady_clock::time_point deadline);
    DnsAnswer<MxRecord> Mx(const std::string& name, std::chrono::steady_clock::time_point deadline);
    // The first IPv4 address of each name, dotted ("127.0.0.1"), in
    // records; none when it has none.
    std::vector<DnsAnswer<std::string>> Ipv4(const std::vector<std::string>& names,
                                             std::chrono::steady_clock::time_point deadline);

  private:
    struct Query;
    // Runs the queries until each has ended, the deadline passes or the
    // abort fires; then every query has its status.
    void Run(std::vector<Query>& queries, std::chrono::steady_clock::time_point deadline);

    std::shared_ptr<const SmtpAbort> m_abort;
    ares_channel m_channel = nullptr;
};

// The SRV record to use (RFC 2782): none when records is empty or a target
// is "." (the service is decidedly not offered: notOffered is then set);
// else the lowest priority and, among those, the highest weight. Weights
// are meant for spreading load over many clients; the form stores one
// server for good, so the heaviest is taken, the same on every run.
std::optional<SrvRecord> PreferredSrv(const std::vector<SrvRecord>& records, bool& notOffered);

// The host of the lowest preference (RFC 5321, 5.1), the first such in the
// answer's order; nullopt when records is empty.
std::optional<std::string> PreferredMx(const std::vector<MxRecord>& records);
