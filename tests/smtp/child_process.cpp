#include "tests/smtp/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace {

void Stop(pid_t& pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // A child that ends before its line closes the pipe, which ends the read.
    for (char c = 0; c != '\n' && read(out[0], &c, 1) == 1;) {
        m_readyLine += c;
    }
    close(out[0]);
    if (!m_readyLine.ends_with('\n')) {
        Stop(m_pid);
        throw std::runtime_error(argv[0] + " did not announce its ports");
    }
}

ServerProcess::~ServerProcess() {
    Stop(m_pid);
}

std::uint16_t ServerProcess::Port(std::string_view name) const {
    const std::string key = " " + std::string(name) + "=";
    const std::size_t at = m_readyLine.find(key);
    return at == std::string::npos
               ? 0
               : static_cast<std::uint16_t>(std::stoul(m_readyLine.substr(at + key.size())));
}
