// Runs the submission probes in parallel and picks the most preferred one
// that answered.
#include "discovery/probe.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "smtp/smtp.h"

namespace {

// kOutOfTime: failed because its waits, bounded by the deadline, ran out.
enum class Attempt { kRunning, kAnswered, kFailed, kOutOfTime };

// An eventfd the probe threads write when they end, so that the waiting
// thread can poll it beside the owner's abort.
class Wakeup {
  public:
    Wakeup() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Wakeup() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    int Descriptor() const noexcept { return m_fd; }
    void Signal() const noexcept {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_fd, &one, sizeof one);
    }
    void Drain() const noexcept {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(m_fd, &count, sizeof count);
    }

  private:
    int m_fd;
};

struct Probe {
    const ProbeHost* host = nullptr;
    std::uint16_t port = 0;
    Attempt state = Attempt::kFailed;  // guarded by the shared mutex
    std::shared_ptr<SmtpAbort> abort;
};

// One probe on the calling thread: kAnswered when the server greeted,
// answered EHLO and, on 587, offered and took STARTTLS.
Attempt RunProbe(const ProbeHost& host, std::uint16_t port, std::uint16_t connectPort,
                 std::chrono::steady_clock::time_point deadline,
                 const std::shared_ptr<const SmtpAbort>& abort) {
    try {
        CSmtp smtp;
        smtp.SetTraceSink([](std::string_view) {});  // a probe is no test mail: nothing logged
        smtp.SetAbort(abort);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        smtp.SetWaitLimit(std::max(left, std::chrono::milliseconds(1)));
        smtp.SetConnectTo(SmtpEndpoint{host.ipv4, connectPort});
        const SmtpSecurity security = port == kProbeTlsPort ? SECURITY_TLS : SECURITY_STARTTLS;
        // authenticate = false: no AUTH line, whatever the server offers.
        smtp.OpenSession(host.name.c_str(), port, security, false, nullptr, nullptr);
        try {
            smtp.CloseSession();   // QUIT
        } catch (const ECSmtp&) {  // NOLINT(bugprone-empty-catch): the server has answered
        }
        return Attempt::kAnswered;
    } catch (const ECSmtp& e) {
        const bool outOfTime = e.Code() == ERR_NOT_RESPONDING || e.Code() == ERR_CONNECT_TIMEOUT;
        return outOfTime ? Attempt::kOutOfTime : Attempt::kFailed;
    } catch (...) {
        return Attempt::kFailed;
    }
}

}  // namespace

ProbeEnd ProbeServers(const std::vector<ProbeHost>& hosts,
                      std::chrono::steady_clock::time_point deadline,
                      const std::map<std::uint16_t, std::uint16_t>& portMap,
                      const std::shared_ptr<const SmtpAbort>& abort, ProbeResult& result) {
    // In order of preference: 465 on every host, then 587 on every host.
    std::vector<Probe> probes;
    for (const std::uint16_t port : {kProbeTlsPort, kProbeStartTlsPort}) {
        for (const ProbeHost& host : hosts) {
            probes.push_back({&host, port, Attempt::kFailed, nullptr});
        }
    }
    Wakeup wakeup;
    std::mutex mutex;
    std::vector<std::thread> threads;
    for (Probe& probe : probes) {
        if (probe.host->ipv4.empty() || wakeup.Descriptor() < 0) {
            continue;  // did not resolve: failed from the start
        }
        const auto mapped = portMap.find(probe.port);
        const std::uint16_t connectPort = mapped == portMap.end() ? probe.port : mapped->second;
        try {
            probe.abort = std::make_shared<SmtpAbort>();
            probe.state = Attempt::kRunning;
            threads.emplace_back([&probe, &mutex, &wakeup, connectPort, deadline] {
                const Attempt ended =
                    RunProbe(*probe.host, probe.port, connectPort, deadline, probe.abort);
                {
                    const std::lock_guard lock(mutex);
                    probe.state = ended;
                }
                wakeup.Signal();
            });
        } catch (...) {  // no descriptor or no thread for this probe: it fails
            const std::lock_guard lock(mutex);
            probe.state = Attempt::kFailed;
        }
    }

    // The first probe in order that has not failed decides, once it ends.
    const auto decided = [&]() -> const Probe* {
        const std::lock_guard lock(mutex);
        for (const Probe& probe : probes) {
            if (probe.state == Attempt::kRunning || probe.state == Attempt::kAnswered) {
                return &probe;
            }
        }
        return nullptr;
    };
    ProbeEnd end = ProbeEnd::kNoneAnswered;
    const Probe* winner = nullptr;
    for (;;) {
        const Probe* first = decided();
        if (first == nullptr) {
            break;
        }
        {
            const std::lock_guard lock(mutex);
            if (first->state == Attempt::kAnswered) {
                winner = first;
                end = ProbeEnd::kAnswered;
                break;
            }
        }
        if (abort && abort->Aborted()) {
            end = ProbeEnd::kCancelled;
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            end = ProbeEnd::kTimedOut;
            break;
        }
        std::vector<pollfd> waits{{wakeup.Descriptor(), POLLIN, 0}};
        if (abort) {
            waits.push_back({abort->Descriptor(), POLLIN, 0});
        }
        poll(waits.data(), waits.size(), static_cast<int>(std::min<long>(left.count(), 60000)));
        wakeup.Drain();
    }
    for (Probe& probe : probes) {
        if (probe.abort) {
            probe.abort->Abort();
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (end == ProbeEnd::kNoneAnswered &&
        std::any_of(probes.begin(), probes.end(),
                    [](const Probe& p) { return p.state == Attempt::kOutOfTime; })) {
        end = ProbeEnd::kTimedOut;  // not refused: the deadline came first
    }
    if (end == ProbeEnd::kTimedOut) {
        // The deadline took the more preferred ones: the best that answered.
        const auto answered = std::find_if(probes.begin(), probes.end(), [](const Probe& p) {
            return p.state == Attempt::kAnswered;
        });
        if (answered != probes.end()) {
            winner = &*answered;
            end = ProbeEnd::kAnswered;
        }
    }
    if (winner != nullptr) {
        result.host = winner->host->name;
        result.port = winner->port;
        result.kind =
            winner->port == kProbeTlsPort ? SmtpTransportKind::kTls : SmtpTransportKind::kStartTls;
    }
    return end;
}
