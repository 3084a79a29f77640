// Finding a mail address's servers: the shipped provider table, then the
// domain's DNS records (SRV, then MX), then probing the usual host names.
//
// Free of Qt: the form runs DiscoverServers on a worker thread and shows the
// first candidate it reports. Nothing here sends a credential or a mail: a
// probe connects, reads the greeting, sends EHLO (and STARTTLS on 587) and
// QUIT, through the SMTP client's own connection code.
//
// Error model: no exceptions leave DiscoverServers; the outcome says what
// happened (DiscoveryOutcome), a candidate says where it came from.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "smtp/smtp_abort.h"

// Where a candidate's values came from, in the order they are tried.
enum class DiscoverySource {
    kProviderTable,  // a row of the shipped table for the address's domain
    kSrv,            // the domain's _submissions/_submission SRV records
    kMx,             // the table row of the domain's preferred MX host's domain
    kProbe,          // a server that answered on smtp./mail./the domain itself
};

// How the account is written for the provider.
// A table row that names no form gives kWholeAddress.
enum class AccountForm {
    kWholeAddress,        // user@example.com
    kLocalPart,           // user
    kLocalPartDotDomain,  // user.example.com (the local part, a dot, the domain)
};

// How the SMTP port is secured: 465 = TLS from the first byte (the SSL box),
// 587 = STARTTLS (the encrypted-password box), 25 = plain (neither box).
enum class SmtpTransportKind { kTls, kStartTls, kPlain };

struct ServerCandidate {
    DiscoverySource source = DiscoverySource::kProviderTable;
    std::string providerName;  // the table's display name; empty outside the table
    std::string smtpHost;
    std::uint16_t smtpPort = 0;
    SmtpTransportKind smtpKind = SmtpTransportKind::kTls;
    AccountForm account = AccountForm::kWholeAddress;
    std::string popHost;        // empty when none is known
    std::uint16_t popPort = 0;  // 0 when none is known
    // The provider signs in only through OAuth2 (a web sign-in); a password
    // test will fail until the provider allows a password or app password.
    bool oauthOnly = false;
    // A host from SRV or MX that lies neither under the address's domain nor
    // in the table: DNS answers can be forged (RFC 6186 section 6), so the
    // form names the host before the user sends a password to it.
    bool outsideDomain = false;
    // The MX host (kMx) or the SRV target (kSrv) the candidate came from.
    std::string foundVia;
};

enum class DiscoveryOutcome {
    kFound,         // at least one candidate was reported
    kNothingFound,  // every source answered and none gave a server
    kTimedOut,      // the deadline passed before any candidate came
    kCancelled,     // the abort fired
    kBadAddress,    // no domain after the last "@", or one DNS does not allow
};

struct DiscoveryOptions {
    // Ends the lookup at once from another thread (kCancelled).
    std::shared_ptr<const SmtpAbort> abort;
    // Test seam: "127.0.0.1:5353" sends every DNS query there; empty uses
    // the system's resolver configuration.
    std::string nameserver;
    // Test seam: a probe for port P connects to portMap[P] on the probed
    // host's address instead (the certificate is still checked for the
    // host name). Empty in the product.
    std::map<std::uint16_t, std::uint16_t> portMap;
    // Whether to probe at all (the form always does; a test may not).
    bool probe = true;
};

// The shipped table's candidate for address's domain, as DiscoverServers
// would report it first, without DNS or threads: cheap enough for the
// form's thread once the table is parsed (the first call parses it).
// nullopt for a bad address or a domain the table does not hold.
std::optional<ServerCandidate> ProviderTableCandidate(std::string_view address);

// Looks address's domain up, trying the sources in the order of
// DiscoverySource, and calls onCandidate (on the calling thread) once, with
// the first candidate found; the later sources are then not asked (a table
// hit sends no DNS query). Returns kFound after that call, else how it
// ended. The domain (after the last "@") is lower-cased and must be a host
// name DNS allows (letters, digits, hyphens, dots; at most 253 characters,
// 63 per label) else kBadAddress, no query and no call. What onCandidate
// throws is dropped.
DiscoveryOutcome DiscoverServers(std::string_view address,
                                 std::chrono::steady_clock::time_point deadline,
                                 const DiscoveryOptions& options,
                                 const std::function<void(const ServerCandidate&)>& onCandidate);
