#include "tests/smtp/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace {

// Far above any honest start-up, even under a loaded sanitizer build; only a
// hung child ever reaches it.
constexpr int kReadyWaitMillis = 60'000;

pid_t Spawn(const std::vector<std::string>& argv, const posix_spawn_file_actions_t* actions) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], actions, nullptr, args.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    return pid;
}

}  // namespace

bool RunToEnd(const std::vector<std::string>& argv) {
    const pid_t pid = Spawn(argv, nullptr);
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ServerProcess::ServerProcess(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    try {
        m_pid = Spawn(argv, &actions);
    } catch (...) {
        posix_spawn_file_actions_destroy(&actions);
        close(out[0]);
        close(out[1]);
        throw;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // The line is read byte by byte so that nothing after it is taken away.
    for (char c = 0; c != '\n';) {
        pollfd ready{out[0], POLLIN, 0};
        if (poll(&ready, 1, kReadyWaitMillis) != 1 || read(out[0], &c, 1) != 1) {
            close(out[0]);
            Terminate();
            throw std::runtime_error(argv[0] + " did not announce its ports");
        }
        m_readyLine += c;
    }
    close(out[0]);
}

ServerProcess::~ServerProcess() {
    Terminate();
}

void ServerProcess::Terminate() noexcept {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

std::uint16_t ServerProcess::Port(std::string_view name) const {
    const std::string key = " " + std::string(name) + "=";
    const std::size_t at = m_readyLine.find(key);
    if (at == std::string::npos) {
        return 0;
    }
    return static_cast<std::uint16_t>(std::stoul(m_readyLine.substr(at + key.size())));
}
