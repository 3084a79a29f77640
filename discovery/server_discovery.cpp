// Runs the sources in order for one address (the table, SRV, MX, probes)
// and reports the first candidate found.
#include "discovery/server_discovery.h"

#include <exception>
#include <utility>

#include "discovery/address_domain.h"
#include "discovery/dns_query.h"
#include "discovery/probe.h"
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
        DnsResolver resolver(m_options.nameserver, m_options.abort);
        for (const auto step : {&Discovery::FromSrv, &Discovery::FromMx, &Discovery::FromProbes}) {
            if (const auto stopped = Stopped()) {
                return *stopped;
            }
            if (const auto outcome = (this->*step)(resolver)) {
                return *outcome;
            }
        }
        return Stopped().value_or(DiscoveryOutcome::kNothingFound);
    }

  private:
    // Each step returns an outcome once the lookup ends there (found,
    // timed out, cancelled), nullopt to go on with the next.
    std::optional<DiscoveryOutcome> FromSrv(DnsResolver& resolver) {
        // RFC 6186, section 3 and RFC 8314, section 5.1: TLS from the first
        // byte is preferred to STARTTLS, for submission and for POP alike.
        const std::vector<DnsAnswer<SrvRecord>> answers =
            resolver.Srv({"_submissions._tcp." + m_domain, "_submission._tcp." + m_domain,
                          "_pop3s._tcp." + m_domain, "_pop3._tcp." + m_domain},
                         m_deadline);
        if (const auto stopped = Ended(answers)) {
            return stopped;
        }
        std::optional<SrvRecord> smtp;
        SmtpTransportKind kind = SmtpTransportKind::kTls;
        bool notOffered = false;
        if (!(smtp = PreferredSrv(answers[0].records, notOffered))) {
            smtp = PreferredSrv(answers[1].records, notOffered);
            kind = SmtpTransportKind::kStartTls;
        }
        if (!smtp || smtp->port == 0) {
            return std::nullopt;
        }
        ServerCandidate candidate;
        candidate.source = DiscoverySource::kSrv;
        candidate.smtpHost = HostName(smtp->target);
        candidate.smtpPort = smtp->port;
        candidate.smtpKind = kind;
        candidate.foundVia = candidate.smtpHost;
        std::optional<SrvRecord> pop = PreferredSrv(answers[2].records, notOffered);
        if (!pop) {
            pop = PreferredSrv(answers[3].records, notOffered);
        }
        if (pop && pop->port != 0) {
            candidate.popHost = HostName(pop->target);
            candidate.popPort = pop->port;
        }
        return Report(candidate);
    }

    std::optional<DiscoveryOutcome> FromMx(DnsResolver& resolver) {
        const DnsAnswer<MxRecord> answer = resolver.Mx(m_domain, m_deadline);
        if (const auto stopped = Ended(std::vector{answer})) {
            return stopped;
        }
        const std::optional<std::string> host = PreferredMx(answer.records);
        if (!host) {
            return std::nullopt;
        }
        const ProviderRow* row = ShippedProviderTable().RowForParentOf(*host);
        if (row == nullptr) {
            return std::nullopt;
        }
        ServerCandidate candidate = FromRow(*row, DiscoverySource::kMx);
        candidate.foundVia = HostName(*host);
        return Report(candidate);
    }

    std::optional<DiscoveryOutcome> FromProbes(DnsResolver& resolver) {
        if (!m_options.probe) {
            return std::nullopt;
        }
        const std::vector<std::string> names = {"smtp." + m_domain, "mail." + m_domain, m_domain};
        const std::vector<DnsAnswer<std::string>> addresses = resolver.Ipv4(names, m_deadline);
        if (const auto stopped = Ended(addresses)) {
            return stopped;
        }
        std::vector<ProbeHost> hosts;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const auto& records = addresses[i].records;
            hosts.push_back({names[i], records.empty() ? std::string() : records.front()});
        }
        ProbeResult winner;
        switch (ProbeServers(hosts, m_deadline, m_options.portMap, m_options.abort, winner)) {
            case ProbeEnd::kAnswered: break;
            case ProbeEnd::kNoneAnswered: return std::nullopt;
            case ProbeEnd::kTimedOut: return DiscoveryOutcome::kTimedOut;
            case ProbeEnd::kCancelled: return DiscoveryOutcome::kCancelled;
        }
        ServerCandidate candidate;
        candidate.source = DiscoverySource::kProbe;
        candidate.smtpHost = winner.host;
        candidate.smtpPort = winner.port;
        candidate.smtpKind = winner.kind;
        return Report(candidate);
    }

    // The end a batch of DNS answers forces: the abort or the deadline.
    template <typename Record>
    static std::optional<DiscoveryOutcome> Ended(const std::vector<DnsAnswer<Record>>& answers) {
        for (const DnsAnswer<Record>& answer : answers) {
            if (answer.status == DnsStatus::kCancelled) {
                return DiscoveryOutcome::kCancelled;
            }
            if (answer.status == DnsStatus::kTimedOut) {
                return DiscoveryOutcome::kTimedOut;
            }
        }
        return std::nullopt;
    }

    // A host from DNS as the form shows it: lower case, no final dot.
    static std::string HostName(std::string_view name) {
        std::string host = AsciiLower(name);
        while (!host.empty() && host.back() == '.') {
            host.pop_back();
        }
        return host;
    }

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

    // RFC 6186, section 6: a host from DNS that lies neither under the
    // domain nor in the table may be forged, so the form names it.
    DiscoveryOutcome Report(ServerCandidate candidate) const {
        candidate.outsideDomain = candidate.source != DiscoverySource::kProviderTable &&
                                  candidate.source != DiscoverySource::kProbe &&
                                  !IsWithinDomain(candidate.smtpHost, m_domain) &&
                                  !ShippedProviderTable().IsSmtpHost(candidate.smtpHost);
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

std::optional<ServerCandidate> ProviderTableCandidate(std::string_view address) {
    const std::optional<std::string> domain = AddressDomain(address);
    if (!domain) {
        return std::nullopt;
    }
    const ProviderRow* row = ShippedProviderTable().PreferredRow(*domain);
    if (row == nullptr) {
        return std::nullopt;
    }
    return FromRow(*row, DiscoverySource::kProviderTable);
}

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
