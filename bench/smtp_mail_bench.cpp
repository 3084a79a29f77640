// One whole mail per run, each client a process timed from spawn to exit:
// connect, TLS from the start, greeting, EHLO, AUTH PLAIN, MAIL FROM, RCPT
// TO, DATA, the message, the end of data, QUIT. Ours is send_mail_once
// (CSmtp::SendMail, built beside this program); the peer is the curl program
// uploading the very bytes our client delivered, captured by the local
// server before the timed runs.
//
// Two servers, in the same run: the local one in this process (which writes
// as common mail servers do: Nagle's algorithm on, its TLS 1.3 session
// ticket before the greeting; a second instance of it greets in clear text
// and wants STARTTLS, as port 587 does, where the test mail's TLS from the
// start meets the plain greeting and connects again with STARTTLS, and curl
// says STARTTLS at once), and, given --postfix-port=PORT and
// --postfix-ca=FILE, a Postfix on 127.0.0.1 (scripts/bench-postfix.sh sets
// one up). The local server gets the test mail (five short lines) and mails
// of 25,000, 50,000 and 100,000 body lines of 70 characters, so that the time
// per line shows whether the time grows linearly; Postfix the test mail and
// the 100,000 lines. Ours runs with CSmtp's default trace (the system log, as
// the setup program has it) and again with no trace at all. One benchmark per
// server and mail runs the three clients in turns, run by run, so that they
// share whatever else the machine is doing; its counters are named
// <client>.<what>.
//
// Every run must deliver the whole message: the local server counts the bytes
// of each, and against Postfix a client exits 0 only after the server's 250
// to the end of data. Each case reports the median, the 95th percentile and
// the slowest run, the local server's own time for the same sessions, and
// the largest resident set (peak_rss) and the system calls (strace -c) of
// one more run each. With --trace-dir=DIR one more run per case is
// traced with timestamps into DIR (strace -f -ttt -T), for
// scripts/bench-strace-gap.py to find the longest time between two system
// calls: a delayed-ACK stall shows there as some 40 ms in a poll.
// scripts/bench-mail-table.py turns the JSON output into the README's tables.
#include <benchmark/benchmark.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/bench_mail.h"
#include "bench/bench_runs.h"
#include "bench/local_smtp_server.h"
#include "bench/throwaway_certificates.h"

extern char** environ;

namespace {

constexpr const char* kHost = "127.0.0.1";
// The account of the local server and of scripts/bench-postfix.sh.
constexpr const char* kLogin = "bench-user";
constexpr const char* kPassword = "bench-secret";
constexpr const char* kTestMail = "test";
constexpr const char* kLargeMails[] = {"25000", "50000", "100000"};
constexpr const char* kPostfixMails[] = {"test", "100000"};
constexpr int kTestMailRuns = 50;
constexpr int kLargeMailRuns = 20;

enum class Client { kOurs, kOursNullTrace, kCurl };

// One mail as the local server received it from our client: what curl
// uploads, to either server.
struct Message {
    std::string file;
    std::uint64_t bytes = 0;
    std::uint64_t bodyBytes = 0;
};

// A server the clients send to.
struct Target {
    std::string name;  // the first part of its cases' names
    std::uint16_t port = 0;
    std::string caFile;
    // This process's environment with SSL_CERT_FILE naming caFile: our
    // client takes its trusted certificates from OpenSSL's defaults.
    std::vector<std::string> ourEnvironment;
    // The server in this process, which also times and counts the sessions;
    // null for a server of another process.
    LocalSmtpServer* local = nullptr;
    // The server greets in clear text and wants STARTTLS.
    bool startTls = false;
};

struct Setup {
    std::filesystem::path folder;
    std::string sendMailOnce;
    std::string peakRss;
    std::string traceDir;                     // empty: no timestamped traces
    std::map<std::string, Message> messages;  // by the body argument
    std::unique_ptr<LocalSmtpServer> server;
    std::unique_ptr<LocalSmtpServer> startTlsServer;
    std::vector<Target> targets;
};
Setup* g_setup = nullptr;

using Clock = std::chrono::steady_clock;

// Removes the run's temporary folder however the run ends.
struct FolderRemover {
    std::filesystem::path folder;
    ~FolderRemover() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Target MakeTarget(std::string name, std::uint16_t port, std::string caFile, LocalSmtpServer* local,
                  bool startTls = false) {
    Target target{std::move(name), port, std::move(caFile), {}, local, startTls};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (!std::string_view(*variable).starts_with("SSL_CERT_FILE=")) {
            target.ourEnvironment.emplace_back(*variable);
        }
    }
    target.ourEnvironment.push_back("SSL_CERT_FILE=" + target.caFile);
    return target;
}

std::vector<std::string> Command(const Target& target, Client client, const std::string& body) {
    const std::string port = std::to_string(target.port);
    if (client == Client::kCurl) {
        // --ssl-reqd with smtp:// is STARTTLS, required.
        return {"curl", "--silent", "--show-error", "--ssl-reqd",
                (target.startTls ? "smtp://" : "smtps://") + std::string(kHost) + ":" + port,
                "--cacert", target.caFile, "--mail-from", kBenchSender, "--mail-rcpt",
                kBenchRecipient, "--user", std::string(kLogin) + ":" + kPassword,
                // Like CSmtp, AUTH PLAIN with the response on the AUTH line.
                "--login-options", "AUTH=PLAIN", "--sasl-ir", "--upload-file",
                g_setup->messages.at(body).file};
    }
    std::vector<std::string> command = {
        g_setup->sendMailOnce, kHost, port, kLogin, kPassword, body};
    if (client == Client::kOursNullTrace) {
        command.emplace_back("--null-trace");
    }
    return command;
}

const std::vector<std::string>* Environment(const Target& target, Client client) {
    return client == Client::kCurl ? nullptr : &target.ourEnvironment;
}

// Where each child's standard error goes, for the reason of a failed run.
std::string ErrorFile() {
    return (g_setup->folder / "stderr.txt").string();
}

// Runs one mail and throws std::runtime_error with the child's reason when
// it fails.
void RunOrThrow(const Target& target, Client client, const std::string& body) {
    const int status =
        RunProcess(Command(target, client, body), Environment(target, client), ErrorFile());
    if (status != 0) {
        std::string reason = ReadFile(ErrorFile());
        while (!reason.empty() && reason.back() == '\n') {
            reason.pop_back();
        }
        throw std::runtime_error(Command(target, client, body)[0] + " to " + target.name +
                                 " exited with " + std::to_string(status) + ": " + reason);
    }
}

// Runs one mail through wrapper (a command line that runs the command after
// it: strace, peak_rss); true when the wrapper ran it and it succeeded. The
// local server then has one session more, which is taken so that it is not
// counted with the next case.
bool RunWrapped(const Target& target, Client client, const std::string& body,
                std::vector<std::string> wrapper) {
    const std::vector<std::string> command = Command(target, client, body);
    wrapper.insert(wrapper.end(), command.begin(), command.end());
    if (RunProcess(wrapper, Environment(target, client), ErrorFile()) != 0) {
        return false;
    }
    if (target.local != nullptr) {
        target.local->TakeSessions(1);
    }
    return true;
}

// Calls per system call name of `strace -c -f` over one run of client, or
// an empty map when strace is missing or may not trace.
std::map<std::string, double> CountSyscalls(const Target& target, Client client,
                                            const std::string& body) {
    const std::string summary = (g_setup->folder / "strace.txt").string();
    std::map<std::string, double> calls;
    if (!RunWrapped(target, client, body,
                    {"strace", "-f", "-c", "-U", "name,calls", "-o", summary})) {
        return calls;
    }
    std::ifstream in(summary);
    std::string name;
    double count = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        if (fields >> name >> count) {
            calls[name] = count;
        }
    }
    return calls;
}

// The largest resident set of one more run, in KiB, or -1 when peak_rss
// failed.
double PeakRssKib(const Target& target, Client client, const std::string& body) {
    const std::string file = (g_setup->folder / "peak_rss.txt").string();
    double kib = -1;
    if (RunWrapped(target, client, body, {g_setup->peakRss, file})) {
        std::ifstream(file) >> kib;
    }
    return kib;
}

double Calls(const std::map<std::string, double>& calls, std::string_view name) {
    const auto found = calls.find(std::string(name));
    return found == calls.end() ? 0 : found->second;
}

// The clients, by the name their counters begin with.
struct NamedClient {
    const char* who;
    Client client;
};
constexpr NamedClient kClients[] = {
    {"Ours", Client::kOurs}, {"OursNullTrace", Client::kOursNullTrace}, {"Curl", Client::kCurl}};
constexpr std::size_t kClientCount = std::size(kClients);

// Checks what the local server saw of the timed runs (whose clients, in run
// order, are in order) and gives each client's server times into serverMs;
// false (with the benchmark's error set) when a run did not deliver the
// whole message or a session failed.
bool CheckLocalServer(benchmark::State& state, LocalSmtpServer& server, bool startTls,
                      const std::vector<std::size_t>& order, const Message& message,
                      std::size_t failuresBefore, std::vector<double> (&serverMs)[kClientCount]) {
    const std::vector<LocalSmtpServer::Session> sessions = server.TakeSessions(order.size());
    if (sessions.size() != order.size()) {
        state.SkipWithError("the server saw more sessions than runs");
        return false;
    }
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        // The Date line may change its length between runs; the body may not.
        if (sessions[i].messages != 1 || sessions[i].bodyBytes != message.bodyBytes) {
            state.SkipWithError("a session did not deliver the whole message");
            return false;
        }
        serverMs[order[i]].push_back(sessions[i].millis);
    }
    if (server.failures() != failuresBefore) {
        state.SkipWithError("the server saw sessions without AUTH or QUIT");
        return false;
    }
    // Against a STARTTLS port each run of ours costs one connection more
    // (TLS from the start meets the plain greeting), curl's none.
    std::size_t ourRuns = 0;
    for (const std::size_t c : order) {
        ourRuns += kClients[c].client == Client::kCurl ? 0 : 1;
    }
    if (server.TlsFirstConnections() != (startTls ? ourRuns : 0)) {
        state.SkipWithError("the server saw other connections begun with TLS than expected");
        return false;
    }
    return true;
}

// The three clients take turns, one run each per iteration and a different
// one first each time, so that a change in the machine's load (other work,
// the server's own background tasks) falls on all of them alike. Counters
// are named <client>.<what>.
void MailRuns(benchmark::State& state, const Target& target, const std::string& body) {
    const Message& message = g_setup->messages.at(body);
    const std::size_t failuresBefore = target.local != nullptr ? target.local->failures() : 0;
    if (target.local != nullptr) {
        target.local->Reset();
    }
    std::vector<double> clientMs[kClientCount];
    std::vector<std::size_t> order;  // the client of each run, in run order
    std::size_t round = 0;
    while (state.KeepRunning()) {
        for (std::size_t turn = 0; turn < kClientCount; ++turn) {
            const std::size_t c = (round + turn) % kClientCount;
            const Clock::time_point start = Clock::now();
            try {
                RunOrThrow(target, kClients[c].client, body);
            } catch (const std::runtime_error& failure) {
                state.SkipWithError(failure.what());
                return;
            }
            clientMs[c].push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            order.push_back(c);
        }
        ++round;
    }
    std::vector<double> serverMs[kClientCount];
    if (target.local != nullptr && !CheckLocalServer(state, *target.local, target.startTls, order,
                                                     message, failuresBefore, serverMs)) {
        return;
    }
    state.counters["lines"] = body == kTestMail ? 5 : std::strtod(body.c_str(), nullptr);
    state.counters["message_bytes"] = static_cast<double>(message.bytes);
    for (std::size_t c = 0; c < kClientCount; ++c) {
        const auto [who, client] = kClients[c];
        const std::string prefix = std::string(who) + ".";
        auto& counters = state.counters;
        counters[prefix + "runs"] = static_cast<double>(clientMs[c].size());
        counters[prefix + "median_ms"] = Percentile(clientMs[c], 0.5);
        counters[prefix + "p95_ms"] = Percentile(clientMs[c], 0.95);
        counters[prefix + "max_ms"] = Percentile(clientMs[c], 1.0);
        if (target.local != nullptr) {
            counters[prefix + "server_median_ms"] = Percentile(serverMs[c], 0.5);
            counters[prefix + "server_p95_ms"] = Percentile(serverMs[c], 0.95);
        }
        counters[prefix + "max_rss_kib"] = PeakRssKib(target, client, body);

        const std::map<std::string, double> calls = CountSyscalls(target, client, body);
        counters[prefix + "syscalls"] = calls.empty() ? -1 : Calls(calls, "total");
        counters[prefix + "syscalls_write"] = Calls(calls, "write") + Calls(calls, "writev") +
                                              Calls(calls, "sendto") + Calls(calls, "sendmsg");
        counters[prefix + "syscalls_socket"] = Calls(calls, "socket");

        if (!g_setup->traceDir.empty()) {
            const std::string file =
                g_setup->traceDir + "/" + target.name + "-" + who + "-" + body + ".strace";
            std::error_code ignored;  // no trace of an earlier run may stand for this one
            std::filesystem::remove(file, ignored);
            RunWrapped(target, client, body, {"strace", "-f", "-ttt", "-T", "-o", file});
        }
    }
}

// Sends body once with our client to the local server, keeps what it
// received as the file curl uploads, and checks that curl delivers exactly
// those bytes. Both runs also warm the page cache for the timed ones.
void CaptureMessage(const Target& local, const std::string& body) {
    LocalSmtpServer& server = *local.local;
    server.KeepMessages(true);
    server.Reset();
    RunOrThrow(local, Client::kOursNullTrace, body);
    const LocalSmtpServer::Session ours = server.TakeSessions(1).front();
    const std::string bytes = server.LastMessage();
    if (ours.messages != 1 || bytes.size() != ours.messageBytes) {
        throw std::runtime_error("our client's " + body + " mail did not arrive whole");
    }
    Message& message = g_setup->messages[body];
    message.file = (g_setup->folder / (body + ".eml")).string();
    message.bytes = ours.messageBytes;
    message.bodyBytes = ours.bodyBytes;
    std::ofstream(message.file, std::ios::binary) << bytes;

    RunOrThrow(local, Client::kCurl, body);
    server.TakeSessions(1);
    if (server.LastMessage() != bytes) {
        throw std::runtime_error("curl delivered other bytes than the " + body + " mail's file");
    }
    server.KeepMessages(false);
    server.Reset();
}

// The three clients on one mail to one server, named <server>/<body>; runs
// is the number of runs of each client.
void Register(const Target& target, const std::string& body, int runs) {
    const std::string name = target.name + "/" + body;
    benchmark::RegisterBenchmark(
        name.c_str(), [&target, body](benchmark::State& state) { MailRuns(state, target, body); })
        ->Iterations(runs)
        ->Unit(benchmark::kMillisecond);
}

// This program's own options, taken out of argv before Google Benchmark
// reads the rest.
struct Options {
    std::uint16_t postfixPort = 0;  // 0: no Postfix
    std::string postfixCa;
    std::string traceDir;
};

Options TakeOptions(int& argc, char** argv) {
    Options options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--postfix-port=")) {
            const unsigned long port = std::strtoul(argv[i] + 15, nullptr, 10);
            if (port == 0 || port > 65535) {
                throw std::runtime_error("--postfix-port takes a port number");
            }
            options.postfixPort = static_cast<std::uint16_t>(port);
        } else if (arg.starts_with("--postfix-ca=")) {
            options.postfixCa = arg.substr(13);
        } else if (arg.starts_with("--trace-dir=")) {
            options.traceDir = arg.substr(12);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if ((options.postfixPort == 0) != options.postfixCa.empty()) {
        throw std::runtime_error("--postfix-port and --postfix-ca go together");
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    // A server write to a client that already left must not end the run.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const Options options = TakeOptions(argc, argv);
        Setup setup;
        std::string folderTemplate =
            (std::filesystem::temp_directory_path() / "wakebell-mail-bench-XXXXXX").string();
        if (mkdtemp(folderTemplate.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        setup.folder = folderTemplate;
        const FolderRemover remover{setup.folder};
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
        setup.sendMailOnce = (self.parent_path() / "send_mail_once").string();
        setup.peakRss = (self.parent_path() / "peak_rss").string();
        if (!options.traceDir.empty()) {
            std::filesystem::create_directories(options.traceDir);
            setup.traceDir = std::filesystem::absolute(options.traceDir).string();
            benchmark::AddCustomContext("trace_dir", setup.traceDir);
        }
        const ThrowawayCertificates certificates = MakeThrowawayCertificates(kHost);
        const std::string caFile = (setup.folder / "ca.pem").string();
        AppendPem(certificates.authority.get(), caFile);
        setup.server = std::make_unique<LocalSmtpServer>(
            certificates.server.get(), certificates.serverKey.get(), kLogin, kPassword);
        setup.startTlsServer = std::make_unique<LocalSmtpServer>(
            certificates.server.get(), certificates.serverKey.get(), kLogin, kPassword,
            LocalSmtpServer::Security::kStartTls);
        // Registered cases keep a reference to their target: no reallocation.
        setup.targets.reserve(3);
        setup.targets.push_back(
            MakeTarget("Local", setup.server->port(), caFile, setup.server.get()));
        setup.targets.push_back(MakeTarget("LocalStartTls", setup.startTlsServer->port(), caFile,
                                           setup.startTlsServer.get(), true));
        if (options.postfixPort != 0) {
            setup.targets.push_back(
                MakeTarget("Postfix", options.postfixPort, options.postfixCa, nullptr));
        }
        g_setup = &setup;

        const Target& local = setup.targets.front();
        CaptureMessage(local, kTestMail);
        for (const char* body : kLargeMails) {
            CaptureMessage(local, body);
        }
        Register(local, kTestMail, kTestMailRuns);
        for (const char* body : kLargeMails) {
            Register(local, body, kLargeMailRuns);
        }
        // The test mail alone: what a second connection costs does not grow
        // with the body.
        Register(setup.targets[1], kTestMail, kTestMailRuns);
        if (options.postfixPort != 0) {
            const Target& postfix = setup.targets.back();
            for (const char* body : kPostfixMails) {
                // Fails early, with the reason, when the server refuses.
                RunOrThrow(postfix, Client::kOursNullTrace, body);
                RunOrThrow(postfix, Client::kCurl, body);
                Register(postfix, body,
                         body == std::string_view(kTestMail) ? kTestMailRuns : kLargeMailRuns);
            }
        }

        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();

        setup.startTlsServer.reset();
        setup.server.reset();
        g_setup = nullptr;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "smtp_mail_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
