// Runs the sources in order for one address (the table, SRV, MX, probes)
// and reports the first candidate found.
#include "discovery/server_discovery.h"

#include <exception>
#include <utility>

#include "discovery/address_domain.h"
#include "discovery/provider_table.h"

namespace {

ServerCandidate FromRow(const ProviderRow& row, DiscoverySource source) {
    ServerCandidate candidate;
    candidate.source = source;
    candidate.providerName = row.provider;
    candidate.smtpHost = row.smtpHost;
    candidate.smtpPort = row.smtpPort;
    candidate.smtpKind = row.smtpKind;
    candidate.account = row.account;
    candidate.popHost = row.popHost;
    candidate.popPort = row.popPort;
    candidate.oauthOnly = row.oauthOnly;
    return candidate;
}

class Discovery {
  public:
    Discovery(std::string domain, std::chrono::steady_clock::time_point deadline,
              const DiscoveryOptions& options,
              const std::function<void(const ServerCandidate&)>& onCandidate)
        : m_domain(std::move(domain)),
          m_deadline(deadline),
          m_options(options),
          m_onCandidate(onCandidate) {}

    DiscoveryOutcome Run() {
        if (const ProviderRow* row = ShippedProviderTable().PreferredRow(m_domain)) {
            return Report(FromRow(*row, DiscoverySource::kProviderTable));
        }
        return Stopped().value_or(DiscoveryOutcome::kNothingFound);
    }

  private:
    // kCancelled or kTimedOut once the lookup must end.
    std::optional<DiscoveryOutcome> Stopped() const {
        if (m_options.abort && m_options.abort->Aborted()) {
            return DiscoveryOutcome::kCancelled;
        }
        if (std::chrono::steady_clock::now() >= m_deadline) {
            return DiscoveryOutcome::kTimedOut;
        }
        return std::nullopt;
    }

    DiscoveryOutcome Report(const ServerCandidate& candidate) const {
        try {
            if (m_onCandidate) {
                m_onCandidate(candidate);
            }
        } catch (...) {  // NOLINT(bugprone-empty-catch): the owner's failure is its own
        }
        return DiscoveryOutcome::kFound;
    }

    std::string m_domain;
    std::chrono::steady_clock::time_point m_deadline;
    const DiscoveryOptions& m_options;
    const std::function<void(const ServerCandidate&)>& m_onCandidate;
};

}  // namespace

DiscoveryOutcome DiscoverServers(std::string_view address,
                                 std::chrono::steady_clock::time_point deadline,
                                 const DiscoveryOptions& options,
                                 const std::function<void(const ServerCandidate&)>& onCandidate) {
    try {
        std::optional<std::string> domain = AddressDomain(address);
        if (!domain) {
            return DiscoveryOutcome::kBadAddress;
        }
        return Discovery(std::move(*domain), deadline, options, onCandidate).Run();
    } catch (...) {
        // Only an exhausted memory or a failed thread start gets here.
        return DiscoveryOutcome::kNothingFound;
    }
}
