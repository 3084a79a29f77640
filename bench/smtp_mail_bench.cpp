// One whole mail per run, each client a process timed from spawn to exit,
// against a local server in this process: connect, TLS from the start,
// greeting, EHLO, AUTH PLAIN, MAIL FROM, RCPT TO, DATA, the message, the end
// of data, QUIT. Ours is send_mail_once (CSmtp::SendMail, built beside this
// program); the peer is the curl program uploading the very bytes our client
// delivered, captured by the server before the timed runs.
//
// Two mails: the setup program's test mail (five short lines), and mails of
// 25,000, 50,000 and 100,000 body lines of 70 characters, so that the time
// per line shows whether the time grows linearly. Ours runs with CSmtp's
// default trace (the system log, as the setup program has it) and again with
// no trace at all. Every run must deliver the whole message: the server
// counts the bytes of each. The median, the 95th percentile and the slowest
// run are reported beside the server's own time for the same sessions;
// system calls of one more run per case come from strace.
// scripts/bench-mail-table.py turns the JSON output into the README's table.
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
constexpr const char* kLogin = "bench-user";
constexpr const char* kPassword = "bench-secret";
constexpr const char* kTestMail = "test";
constexpr const char* kLargeMails[] = {"25000", "50000", "100000"};
constexpr int kTestMailRuns = 50;
constexpr int kLargeMailRuns = 20;

enum class Client { kOurs, kOursNullTrace, kCurl };

// One mail as the server received it from our client: what curl uploads.
struct Message {
    std::string file;
    std::uint64_t bytes = 0;
    std::uint64_t bodyBytes = 0;
};

struct Setup {
    std::filesystem::path folder;
    std::string caFile;
    std::string sendMailOnce;
    // This process's environment with SSL_CERT_FILE naming the CA: our
    // client takes its trusted certificates from OpenSSL's defaults.
    std::vector<std::string> ourEnvironment;
    std::map<std::string, Message> messages;  // by the body argument
    std::unique_ptr<LocalSmtpServer> server;
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

std::vector<std::string> Command(Client client, const std::string& body) {
    const std::string port = std::to_string(g_setup->server->port());
    if (client == Client::kCurl) {
        return {"curl", "--silent", "--show-error", "--ssl-reqd",
                "smtps://" + std::string(kHost) + ":" + port, "--cacert", g_setup->caFile,
                "--mail-from", kBenchSender, "--mail-rcpt", kBenchRecipient, "--user",
                std::string(kLogin) + ":" + kPassword,
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

const std::vector<std::string>* Environment(Client client) {
    return client == Client::kCurl ? nullptr : &g_setup->ourEnvironment;
}

// Where each child's standard error goes, for the reason of a failed run.
std::string ErrorFile() {
    return (g_setup->folder / "stderr.txt").string();
}

// Runs one mail and throws std::runtime_error with the child's reason when
// it fails.
void RunOrThrow(Client client, const std::string& body) {
    const int status = RunProcess(Command(client, body), Environment(client), ErrorFile());
    if (status != 0) {
        std::string reason = ReadFile(ErrorFile());
        while (!reason.empty() && reason.back() == '\n') {
            reason.pop_back();
        }
        throw std::runtime_error(Command(client, body)[0] + " exited with " +
                                 std::to_string(status) + ": " + reason);
    }
}

// Calls per system call name of `strace -c -f` over one run of client, or
// an empty map when strace is missing or may not trace.
std::map<std::string, double> CountSyscalls(Client client, const std::string& body) {
    const std::string summary = (g_setup->folder / "strace.txt").string();
    std::vector<std::string> traced = {"strace", "-f", "-c", "-U", "name,calls", "-o", summary};
    const std::vector<std::string> command = Command(client, body);
    traced.insert(traced.end(), command.begin(), command.end());
    std::map<std::string, double> calls;
    if (RunProcess(traced, Environment(client), ErrorFile()) != 0) {
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

double Calls(const std::map<std::string, double>& calls, std::string_view name) {
    const auto found = calls.find(std::string(name));
    return found == calls.end() ? 0 : found->second;
}

void MailRuns(benchmark::State& state, Client client, const std::string& body) {
    LocalSmtpServer& server = *g_setup->server;
    const Message& message = g_setup->messages.at(body);
    const std::size_t failuresBefore = server.failures();
    server.Reset();
    std::vector<double> clientMs;
    while (state.KeepRunning()) {
        const Clock::time_point start = Clock::now();
        try {
            RunOrThrow(client, body);
        } catch (const std::runtime_error& failure) {
            state.SkipWithError(failure.what());
            return;
        }
        clientMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const std::vector<LocalSmtpServer::Session> sessions = server.TakeSessions(clientMs.size());
    if (sessions.size() != clientMs.size()) {
        state.SkipWithError("the server saw more sessions than runs");
        return;
    }
    std::vector<double> serverMs;
    for (const LocalSmtpServer::Session& session : sessions) {
        serverMs.push_back(session.millis);
        // The Date line may change its length between runs; the body may not.
        if (session.messages != 1 || session.bodyBytes != message.bodyBytes) {
            state.SkipWithError("a session did not deliver the whole message");
            return;
        }
    }
    if (server.failures() != failuresBefore) {
        state.SkipWithError("the server saw sessions without AUTH or QUIT");
        return;
    }
    state.counters["runs"] = static_cast<double>(clientMs.size());
    state.counters["lines"] = body == kTestMail ? 5 : std::strtod(body.c_str(), nullptr);
    state.counters["message_bytes"] = static_cast<double>(message.bytes);
    state.counters["median_ms"] = Percentile(clientMs, 0.5);
    state.counters["p95_ms"] = Percentile(clientMs, 0.95);
    state.counters["max_ms"] = Percentile(clientMs, 1.0);
    state.counters["server_median_ms"] = Percentile(serverMs, 0.5);
    state.counters["server_p95_ms"] = Percentile(serverMs, 0.95);

    const std::map<std::string, double> calls = CountSyscalls(client, body);
    if (!calls.empty()) {
        // The traced run's session must not end up among the next case's.
        server.TakeSessions(1);
    }
    state.counters["syscalls"] = calls.empty() ? -1 : Calls(calls, "total");
    state.counters["syscalls_write"] = Calls(calls, "write") + Calls(calls, "writev") +
                                       Calls(calls, "sendto") + Calls(calls, "sendmsg");
    state.counters["syscalls_socket"] = Calls(calls, "socket");
}

// Sends body once with our client, keeps what the server received as the
// file curl uploads, and checks that curl delivers exactly those bytes. Both
// runs also warm the page cache for the timed ones.
void CaptureMessage(const std::string& body) {
    LocalSmtpServer& server = *g_setup->server;
    server.KeepMessages(true);
    server.Reset();
    RunOrThrow(Client::kOursNullTrace, body);
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

    RunOrThrow(Client::kCurl, body);
    server.TakeSessions(1);
    if (server.LastMessage() != bytes) {
        throw std::runtime_error("curl delivered other bytes than the " + body + " mail's file");
    }
    server.KeepMessages(false);
    server.Reset();
}

// The three clients on one mail, named Mail/<client>/<body>.
void Register(const std::string& body, int runs) {
    const std::pair<const char*, Client> clients[] = {{"Ours", Client::kOurs},
                                                      {"OursNullTrace", Client::kOursNullTrace},
                                                      {"Curl", Client::kCurl}};
    for (const auto& [who, client] : clients) {
        const std::string name = std::string("Mail/") + who + "/" + body;
        benchmark::RegisterBenchmark(
            name.c_str(),
            [client = client, body](benchmark::State& state) { MailRuns(state, client, body); })
            ->Iterations(runs)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A server write to a client that already left must not end the run.
    std::signal(SIGPIPE, SIG_IGN);
    try {
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
        const ThrowawayCertificates certificates = MakeThrowawayCertificates(kHost);
        setup.caFile = (setup.folder / "ca.pem").string();
        AppendPem(certificates.authority.get(), setup.caFile);
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (!std::string_view(*variable).starts_with("SSL_CERT_FILE=")) {
                setup.ourEnvironment.emplace_back(*variable);
            }
        }
        setup.ourEnvironment.push_back("SSL_CERT_FILE=" + setup.caFile);
        setup.server = std::make_unique<LocalSmtpServer>(
            certificates.server.get(), certificates.serverKey.get(), kLogin, kPassword);
        g_setup = &setup;

        CaptureMessage(kTestMail);
        for (const char* body : kLargeMails) {
            CaptureMessage(body);
        }
        Register(kTestMail, kTestMailRuns);
        for (const char* body : kLargeMails) {
            Register(body, kLargeMailRuns);
        }

        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();

        setup.server.reset();
        g_setup = nullptr;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "smtp_mail_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
