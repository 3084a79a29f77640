// One whole SMTP session per iteration against a local server in this
// process: connect, TLS from the start, greeting, EHLO, AUTH PLAIN, QUIT.
// Ours is CSmtp; the peer is the curl program doing the same session. Each
// session is timed on its own, so the median, the 95th percentile and the
// slowest one are reported, next to the server's own time for the same
// sessions (accept to close). The server writes as common mail servers do
// (Nagle's algorithm on, its TLS 1.3 session ticket before the greeting), so
// a client that delays its acknowledgement of the ticket waits some 40 ms for
// the greeting in every session: for client and server alike, the median is
// then above 40 ms. Time the client spends outside the connection shows as
// its time above the server's.
// System calls per session are counted with strace on a client-only run of
// this program. scripts/bench-session-table.py turns the JSON output into
// the README's table.
#include <benchmark/benchmark.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_runs.h"
#include "bench/local_smtp_server.h"
#include "bench/throwaway_certificates.h"
#include "smtp/smtp.h"

namespace {

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kLogin = "bench-user";
constexpr const char* kPassword = "bench-secret";
// Sessions of the client-only runs under strace: the difference between the
// two counts, divided by the difference in sessions, leaves out what the
// process does once (start, first OpenSSL use).
constexpr int kStraceFewSessions = 1;
constexpr int kStraceManySessions = 51;

struct Setup {
    std::filesystem::path folder;
    // Trusted certificates, by the benchmark's argument: 0 the throwaway CA
    // alone, 1 the system's bundle with the throwaway CA added.
    std::string caFiles[2];
    std::string self;  // this program, for the client-only runs
    std::unique_ptr<LocalSmtpServer> server;
};
Setup* g_setup = nullptr;

using Clock = std::chrono::steady_clock;

double MillisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void OurSession(std::uint16_t port) {
    CSmtp smtp;
    // The benchmark measures the session, not the machine's system log.
    smtp.SetTraceSink([](std::string_view) {});
    smtp.OpenSession(kHost, port, SECURITY_TLS, true, kLogin, kPassword);
    smtp.CloseSession();
}

// Points both clients at the CA file the benchmark's argument names.
const std::string& TrustCaFile(benchmark::State& state) {
    const std::string& file = g_setup->caFiles[state.range(0) == 0 ? 0 : 1];
    setenv("SSL_CERT_FILE", file.c_str(), 1);
    state.SetLabel(state.range(0) == 0 ? "own CA" : "system bundle + own CA");
    return file;
}

std::vector<std::string> CurlSession(std::uint16_t port, const std::string& caFile) {
    return {"curl", "--silent", "--show-error", "--cacert", caFile, "--user",
            std::string(kLogin) + ":" + kPassword, "--login-options", "AUTH=PLAIN",
            // Like CSmtp, send the PLAIN response on the AUTH line itself.
            "--sasl-ir", "--request", "NOOP",
            "smtps://" + std::string(kHost) + ":" + std::to_string(port)};
}

// The total of `strace -c -f` over command, or -1 when strace is missing or
// may not trace (no ptrace permission).
double CountSyscalls(const std::vector<std::string>& command) {
    const std::string summary = (g_setup->folder / "strace.txt").string();
    std::vector<std::string> traced = {"strace", "-f", "-c", "-U", "name,calls", "-o", summary};
    traced.insert(traced.end(), command.begin(), command.end());
    if (RunProcess(traced) != 0) {
        return -1;
    }
    std::ifstream in(summary);
    std::string name;
    double calls = -1;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        if (fields >> name >> calls && name == "total") {
            return calls;
        }
    }
    return -1;
}

void Report(benchmark::State& state, const std::vector<double>& client,
            const std::vector<double>& server, std::size_t failures) {
    state.counters["median_ms"] = Percentile(client, 0.5);
    state.counters["p95_ms"] = Percentile(client, 0.95);
    state.counters["max_ms"] = Percentile(client, 1.0);
    state.counters["server_median_ms"] = Percentile(server, 0.5);
    state.counters["server_p95_ms"] = Percentile(server, 0.95);
    state.counters["server_max_ms"] = Percentile(server, 1.0);
    state.counters["sessions"] = static_cast<double>(client.size());
    // Sessions run one after another, so the server's i-th is the client's
    // i-th. The client's time beyond the server's is its own start and end
    // outside the connection; a stall inside the connection would instead
    // show in both, as tens of milliseconds above the median.
    double gap = 0;
    for (std::size_t i = 0; i < client.size() && i < server.size(); ++i) {
        gap = std::max(gap, client[i] - server[i]);
    }
    state.counters["max_gap_ms"] = gap;
    if (failures != 0) {
        state.SkipWithError("the server saw sessions without AUTH or QUIT");
    }
}

void Ours_TlsSession(benchmark::State& state) {
    LocalSmtpServer& server = *g_setup->server;
    TrustCaFile(state);
    const std::size_t failuresBefore = server.failures();
    server.Reset();
    std::vector<double> client;
    while (state.KeepRunning()) {
        const Clock::time_point start = Clock::now();
        try {
            OurSession(server.port());
        } catch (const ECSmtp& failure) {
            state.SkipWithError(
                ("CSmtp failed: " + std::to_string(failure.Code()) + " " + failure.Describe())
                    .c_str());
            return;
        }
        client.push_back(MillisSince(start));
    }
    Report(state, client, server.Take(client.size()), server.failures() - failuresBefore);

    const std::string port = std::to_string(server.port());
    const double few =
        CountSyscalls({g_setup->self, "--client-only", port, std::to_string(kStraceFewSessions)});
    const double many =
        CountSyscalls({g_setup->self, "--client-only", port, std::to_string(kStraceManySessions)});
    state.counters["syscalls"] =
        few < 0 || many < 0 ? -1 : (many - few) / (kStraceManySessions - kStraceFewSessions);
    // The traced sessions end on the server's side a moment after the
    // client's: wait for them, so that none is counted with the next case.
    if (few >= 0 && many >= 0) {
        server.Take(kStraceFewSessions + kStraceManySessions);
    }
    server.Reset();
}

void Curl_TlsSession(benchmark::State& state) {
    LocalSmtpServer& server = *g_setup->server;
    const std::size_t failuresBefore = server.failures();
    server.Reset();
    const std::vector<std::string> command = CurlSession(server.port(), TrustCaFile(state));
    std::vector<double> client;
    while (state.KeepRunning()) {
        const Clock::time_point start = Clock::now();
        const int status = RunProcess(command);
        if (status != 0) {
            state.SkipWithError(("curl exited with " + std::to_string(status)).c_str());
            return;
        }
        client.push_back(MillisSince(start));
    }
    Report(state, client, server.Take(client.size()), server.failures() - failuresBefore);

    // One process is one session, so its count includes starting curl; a
    // run that starts libcurl and reads an empty file shows that part apart.
    const double session = CountSyscalls(command);
    const double start = CountSyscalls({"curl", "--silent", "file:///dev/null"});
    state.counters["syscalls"] = session;
    state.counters["syscalls_process_start"] = start;
    if (session >= 0) {
        server.Take(1);  // the traced session, as above
    }
    server.Reset();
}

BENCHMARK(Ours_TlsSession)->Arg(0)->Arg(1)->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(Curl_TlsSession)->Arg(0)->Arg(1)->Iterations(200)->Unit(benchmark::kMillisecond);

// `--client-only PORT N`: N sessions of ours against a server of another
// process, nothing else, for strace to count.
int ClientOnly(const char* port, const char* sessions) {
    const auto portNumber = static_cast<std::uint16_t>(std::strtoul(port, nullptr, 10));
    const long count = std::strtol(sessions, nullptr, 10);
    try {
        for (long i = 0; i < count; ++i) {
            OurSession(portNumber);
        }
    } catch (const ECSmtp& failure) {
        std::fprintf(stderr, "CSmtp failed: %d %s\n", failure.Code(), failure.Describe().c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A server write to a client that already left must not end the run.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc == 4 && std::string_view(argv[1]) == "--client-only") {
        return ClientOnly(argv[2], argv[3]);
    }
    try {
        Setup setup;
        std::string folderTemplate =
            (std::filesystem::temp_directory_path() / "wakebell-session-bench-XXXXXX").string();
        if (mkdtemp(folderTemplate.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        setup.folder = folderTemplate;
        const ThrowawayCertificates certificates = MakeThrowawayCertificates(kHost);
        // The throwaway CA alone shows the session itself. The system's bundle
        // with the CA added is what the README tells a user with an in-house
        // CA to set up: then both clients load 100-odd certificates per
        // session, as they do in real use.
        setup.caFiles[0] = (setup.folder / "ca.pem").string();
        AppendPem(certificates.authority.get(), setup.caFiles[0]);
        setup.caFiles[1] = (setup.folder / "ca-bundle.pem").string();
        std::filesystem::copy_file(X509_get_default_cert_file(), setup.caFiles[1]);
        AppendPem(certificates.authority.get(), setup.caFiles[1]);
        setup.self = std::filesystem::read_symlink("/proc/self/exe").string();
        setup.server = std::make_unique<LocalSmtpServer>(
            certificates.server.get(), certificates.serverKey.get(), kLogin, kPassword);
        g_setup = &setup;

        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();

        setup.server.reset();
        g_setup = nullptr;
        std::filesystem::remove_all(setup.folder);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "smtp_session_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
