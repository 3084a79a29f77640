// Probing the usual submission host names of a domain: each probe connects
// through the SMTP client, reads the greeting, says EHLO (and STARTTLS on
// 587) and QUIT, and sends nothing else: no credential, no MAIL.
//
// All probes run at once, each on a thread of its own with its own CSmtp and
// abort; the most preferred probe that answers wins, and it is known as soon
// as every more preferred one has failed. The rest are then aborted.
//
// Error model: nothing throws but std::bad_alloc; ProbeEnd says how it ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "discovery/server_discovery.h"
#include "smtp/smtp_abort.h"

// A host name to probe and its IPv4 address; an empty address counts as a
// probe that failed (the name did not resolve).
struct ProbeHost {
    std::string name;
    std::string ipv4;
};

struct ProbeResult {
    std::string host;
    std::uint16_t port = 0;  // 465 or 587, as probed (not the portMap's)
    SmtpTransportKind kind = SmtpTransportKind::kTls;
};

enum class ProbeEnd { kAnswered, kNoneAnswered, kTimedOut, kCancelled };

// The ports in order of preference: 465 with TLS from the first byte (the
// certificate verified as the test mail verifies it, RFC 8314), then 587 with
// STARTTLS (RFC 6409), which must be offered and taken.
inline constexpr std::uint16_t kProbeTlsPort = 465;
inline constexpr std::uint16_t kProbeStartTlsPort = 587;

// Probes hosts (in their order of preference) on 465 and then 587: 465 on
// every host is preferred to 587 on any. portMap sends a probe of port P to
// portMap[P] on the host's address instead (tests); the certificate is
// still checked for the host's name. abort (may be null) ends everything at
// once (kCancelled). At the deadline every probe still running is aborted
// and the most preferred one that answered by then wins; kTimedOut when
// none had. On kAnswered, result names the winner.
ProbeEnd ProbeServers(const std::vector<ProbeHost>& hosts,
                      std::chrono::steady_clock::time_point deadline,
                      const std::map<std::uint16_t, std::uint16_t>& portMap,
                      const std::shared_ptr<const SmtpAbort>& abort, ProbeResult& result);
