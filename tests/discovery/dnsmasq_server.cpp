// Runs dnsmasq as a child process on 127.0.0.1 for the discovery tests.
#include "tests/discovery/dnsmasq_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace {

constexpr const char* kDnsmasq = "/usr/sbin/dnsmasq";

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port of 127.0.0.1 that is free for both UDP and TCP now.
std::uint16_t FreePort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        std::uint16_t port = 0;
        if (udp >= 0 && tcp >= 0 &&
            bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(udp, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            port = ntohs(address.sin_port);
        }
        close(udp);
        close(tcp);
        if (port != 0) {
            return port;
        }
    }
    return 0;
}

}  // namespace

DnsmasqServer::DnsmasqServer(const std::vector<std::string>& records) {
    if (access(kDnsmasq, X_OK) != 0) {
        Fail(std::string(kDnsmasq) + " is missing: install dnsmasq-base (scripts/install-deps.sh)");
    }
    if (m_folder.Path().empty()) {
        Fail("no temporary folder for dnsmasq's configuration");
    }
    {
        std::ofstream conf(m_folder.Path() / "dnsmasq.conf");
        for (const std::string& record : records) {
            conf << record << '\n';
        }
    }
    // Run as root, dnsmasq drops to nobody: the folder and file must stay
    // readable for it.
    chmod(m_folder.Path().c_str(), 0755);
    chmod((m_folder.Path() / "dnsmasq.conf").c_str(), 0644);
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Start()) {
            return;
        }
    }
    Fail("dnsmasq did not start; its output: " + [this] {
        std::ifstream log(m_folder.Path() / "dnsmasq.log");
        return std::string(std::istreambuf_iterator<char>(log), {});
    }());
}

DnsmasqServer::~DnsmasqServer() {
    Stop();
}

std::string DnsmasqServer::Nameserver() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

bool DnsmasqServer::Start() {
    m_port = FreePort();
    if (m_port == 0) {
        Fail("no free port on 127.0.0.1 for dnsmasq");
    }
    const std::string conf = "--conf-file=" + (m_folder.Path() / "dnsmasq.conf").string();
    const std::string port = "--port=" + std::to_string(m_port);
    const std::string log = (m_folder.Path() / "dnsmasq.log").string();
    std::vector<std::string> argv = {kDnsmasq,
                                     "--keep-in-foreground",
                                     "--no-resolv",
                                     "--no-hosts",
                                     "--bind-interfaces",
                                     "--listen-address=127.0.0.1",
                                     port,
                                     conf,
                                     "--pid-file",
                                     "--log-facility=-"};
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int spawned = posix_spawn(&m_pid, kDnsmasq, &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        m_pid = -1;
        Fail("dnsmasq could not be started");
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        if (Answers()) {
            return true;
        }
    }
    Stop();
    Fail("dnsmasq gave no answer within 10 s");
}

// Sends a query for "ready.invalid" and waits up to 100 ms for any reply.
bool DnsmasqServer::Answers() const {
    // Header: id 0x5742, recursion desired, one question; then the name,
    // type A, class IN.
    static constexpr std::array<unsigned char, 31> kQuery = {
        0x57, 0x42, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 5,    'r',  'e',  'a',  'd',  'y',  7,    'i',  'n',  'v',
        'a',  'l',  'i',  'd',  0,    0x00, 0x01, 0x00, 0x01};
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const sockaddr_in address = Loopback(m_port);
    bool answered = false;
    if (sendto(fd, kQuery.data(), kQuery.size(), 0, reinterpret_cast<const sockaddr*>(&address),
               sizeof address) == static_cast<ssize_t>(kQuery.size())) {
        pollfd wait{fd, POLLIN, 0};
        std::array<unsigned char, 512> reply{};
        answered = poll(&wait, 1, 100) == 1 && recv(fd, reply.data(), reply.size(), 0) >= 2 &&
                   reply[0] == kQuery[0] && reply[1] == kQuery[1];
    }
    close(fd);
    return answered;
}

void DnsmasqServer::Stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

void DnsmasqServer::Fail(const std::string& what) {
    Stop();
    std::cerr << "DnsmasqServer: " << what << std::endl;
    throw std::runtime_error("DnsmasqServer: " + what);
}
