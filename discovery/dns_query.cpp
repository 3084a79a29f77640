// Runs SRV, MX and A queries on a c-ares channel, polling its sockets and
// the abort until the deadline, and picks the SRV and MX record to use.
#include "discovery/dns_query.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>

#include "discovery/address_domain.h"

namespace {

// ares_library_init is not thread-safe in c-ares 1.18: called once.
bool LibraryReady() {
    static std::once_flag once;
    static int status = ARES_ENOTINITIALIZED;
    std::call_once(once, [] { status = ares_library_init(ARES_LIB_INIT_ALL); });
    return status == ARES_SUCCESS;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60000));
}

// A host name, or the root (an empty text from c-ares: "not offered").
bool UsableName(const char* name) {
    return name != nullptr && (*name == '\0' || IsHostName(name));
}

}  // namespace

struct DnsResolver::Query {
    Query(std::string queried, int recordType) : name(std::move(queried)), type(recordType) {}

    std::string name;
    int type = 0;
    bool done = false;
    int aresStatus = ARES_ENODATA;
    std::vector<unsigned char> answer;
    DnsStatus status = DnsStatus::kNoAnswer;
};

DnsResolver::DnsResolver(const std::string& nameserver, std::shared_ptr<const SmtpAbort> abort)
    : m_abort(std::move(abort)) {
    if (!LibraryReady()) {
        return;
    }
    ares_options options{};
    // Retries at 400, 800 and 1600 ms: a lost datagram is asked again well
    // within the form's few seconds; the deadline ends it in any case.
    options.timeout = 400;
    options.tries = 3;
    if (ares_init_options(&m_channel, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES) !=
        ARES_SUCCESS) {
        m_channel = nullptr;
        return;
    }
    if (!nameserver.empty() &&
        ares_set_servers_ports_csv(m_channel, nameserver.c_str()) != ARES_SUCCESS) {
        ares_destroy(m_channel);
        m_channel = nullptr;
    }
}

DnsResolver::~DnsResolver() {
    if (m_channel != nullptr) {
        ares_destroy(m_channel);
    }
}

void DnsResolver::Run(std::vector<Query>& queries, std::chrono::steady_clock::time_point deadline) {
    if (m_channel == nullptr) {
        return;  // every query stays kNoAnswer
    }
    const auto callback = [](void* arg, int status, int /*timeouts*/, unsigned char* abuf,
                             int alen) {
        auto* query = static_cast<Query*>(arg);
        query->done = true;
        query->aresStatus = status;
        if (status == ARES_SUCCESS && abuf != nullptr && alen > 0) {
            query->answer.assign(abuf, abuf + alen);
        }
    };
    for (Query& query : queries) {
        ares_query(m_channel, query.name.c_str(), ns_c_in, query.type, callback, &query);
    }
    DnsStatus ended = DnsStatus::kNoAnswer;
    const auto pending = [&] {
        return std::any_of(queries.begin(), queries.end(), [](const Query& q) { return !q.done; });
    };
    while (pending()) {
        if (m_abort && m_abort->Aborted()) {
            ended = DnsStatus::kCancelled;
            break;
        }
        const int leftMs = RemainingMs(deadline);
        if (leftMs == 0) {
            ended = DnsStatus::kTimedOut;
            break;
        }
        std::array<ares_socket_t, ARES_GETSOCK_MAXNUM> sockets{};
        const int bits = ares_getsock(m_channel, sockets.data(), ARES_GETSOCK_MAXNUM);
        std::vector<pollfd> waits;
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            short events = 0;
            if (ARES_GETSOCK_READABLE(bits, i)) {
                events |= POLLIN;
            }
            if (ARES_GETSOCK_WRITABLE(bits, i)) {
                events |= POLLOUT;
            }
            if (events != 0) {
                waits.push_back({sockets[static_cast<std::size_t>(i)], events, 0});
            }
        }
        const std::size_t socketCount = waits.size();
        if (m_abort) {
            waits.push_back({m_abort->Descriptor(), POLLIN, 0});
        }
        timeval most{leftMs / 1000, static_cast<suseconds_t>(leftMs % 1000) * 1000};
        timeval next{};
        const timeval* wait = ares_timeout(m_channel, &most, &next);
        const int waitMs = static_cast<int>(wait->tv_sec * 1000 + (wait->tv_usec + 999) / 1000);
        if (poll(waits.data(), waits.size(), waitMs) < 0 && errno != EINTR) {
            break;
        }
        bool any = false;
        for (std::size_t i = 0; i < socketCount; ++i) {
            const short seen = waits[i].revents;
            if (seen == 0) {
                continue;
            }
            any = true;
            const bool readable = (seen & (POLLIN | POLLERR | POLLHUP)) != 0;
            ares_process_fd(m_channel, readable ? waits[i].fd : ARES_SOCKET_BAD,
                            (seen & POLLOUT) != 0 ? waits[i].fd : ARES_SOCKET_BAD);
        }
        if (!any) {
            ares_process_fd(m_channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // retransmissions
        }
    }
    if (pending()) {
        ares_cancel(m_channel);  // ends every query: each callback runs now
    }
    for (Query& query : queries) {
        if (query.aresStatus == ARES_SUCCESS) {
            query.status = DnsStatus::kAnswered;
        } else if (query.aresStatus == ARES_ECANCELLED || !query.done) {
            query.status = ended;
        } else if (query.aresStatus == ARES_EBADRESP) {
            query.status = DnsStatus::kBadAnswer;
        } else {
            query.status = DnsStatus::kNoAnswer;
        }
    }
}

std::vector<DnsAnswer<SrvRecord>> DnsResolver::Srv(const std::vector<std::string>& names,
                                                   std::chrono::steady_clock::time_point deadline) {
    std::vector<Query> queries;
    for (const std::string& name : names) {
        queries.emplace_back(name, ns_t_srv);
    }
    Run(queries, deadline);
    std::vector<DnsAnswer<SrvRecord>> answers;
    for (const Query& query : queries) {
        DnsAnswer<SrvRecord>& answer = answers.emplace_back();
        answer.status = query.status;
        if (query.status != DnsStatus::kAnswered) {
            continue;
        }
        ares_srv_reply* replies = nullptr;
        if (ares_parse_srv_reply(query.answer.data(), static_cast<int>(query.answer.size()),
                                 &replies) != ARES_SUCCESS) {
            answer.status = DnsStatus::kBadAnswer;
            continue;
        }
        for (const ares_srv_reply* r = replies; r != nullptr; r = r->next) {
            if (!UsableName(r->host) || answer.records.size() == kMaxDnsRecords) {
                answer.status = DnsStatus::kBadAnswer;
                answer.records.clear();
                break;
            }
            // c-ares writes the root name as an empty text.
            const std::string target = *r->host == '\0' ? "." : r->host;
            answer.records.push_back({target, r->port, r->priority, r->weight});
        }
        ares_free_data(replies);
    }
    return answers;
}

DnsAnswer<MxRecord> DnsResolver::Mx(const std::string& name,
                                    std::chrono::steady_clock::time_point deadline) {
    std::vector<Query> queries;
    queries.emplace_back(name, ns_t_mx);
    Run(queries, deadline);
    DnsAnswer<MxRecord> answer;
    answer.status = queries[0].status;
    if (answer.status != DnsStatus::kAnswered) {
        return answer;
    }
    ares_mx_reply* replies = nullptr;
    const std::vector<unsigned char>& bytes = queries[0].answer;
    if (ares_parse_mx_reply(bytes.data(), static_cast<int>(bytes.size()), &replies) !=
        ARES_SUCCESS) {
        answer.status = DnsStatus::kBadAnswer;
        return answer;
    }
    for (const ares_mx_reply* r = replies; r != nullptr; r = r->next) {
        if (!UsableName(r->host) || answer.records.size() == kMaxDnsRecords) {
            answer.status = DnsStatus::kBadAnswer;
            answer.records.clear();
            break;
        }
        answer.records.push_back({r->host, r->priority});
    }
    ares_free_data(replies);
    return answer;
}

std::vector<DnsAnswer<std::string>> DnsResolver::Ipv4(
    const std::vector<std::string>& names, std::chrono::steady_clock::time_point deadline) {
    std::vector<Query> queries;
    for (const std::string& name : names) {
        queries.emplace_back(name, ns_t_a);
    }
    Run(queries, deadline);
    std::vector<DnsAnswer<std::string>> answers;
    for (const Query& query : queries) {
        DnsAnswer<std::string>& answer = answers.emplace_back();
        answer.status = query.status;
        if (query.status != DnsStatus::kAnswered) {
            continue;
        }
        std::array<ares_addrttl, 8> addresses{};
        int count = static_cast<int>(addresses.size());
        if (ares_parse_a_reply(query.answer.data(), static_cast<int>(query.answer.size()), nullptr,
                               addresses.data(), &count) != ARES_SUCCESS) {
            answer.status = DnsStatus::kBadAnswer;
            continue;
        }
        std::array<char, INET_ADDRSTRLEN> text{};
        if (count > 0 &&
            inet_ntop(AF_INET, &addresses[0].ipaddr, text.data(), text.size()) != nullptr) {
            answer.records.emplace_back(text.data());
        }
    }
    return answers;
}

std::optional<SrvRecord> PreferredSrv(const std::vector<SrvRecord>& records, bool& notOffered) {
    notOffered = std::any_of(records.begin(), records.end(),
                             [](const SrvRecord& r) { return r.target == "."; });
    if (notOffered || records.empty()) {
        return std::nullopt;
    }
    return *std::min_element(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return a.priority != b.priority ? a.priority < b.priority : a.weight > b.weight;
    });
}

std::optional<std::string> PreferredMx(const std::vector<MxRecord>& records) {
    if (records.empty()) {
        return std::nullopt;
    }
    return std::min_element(
               records.begin(), records.end(),
               [](const auto& a, const auto& b) { return a.preference < b.preference; })
        ->host;
}
