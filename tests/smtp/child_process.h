// Programs the SMTP tests start: a one-shot command, and a server that
// announces its ports on one line of standard output once it listens.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Runs argv (argv[0] is a path) to its end; true when it exits with 0.
bool RunToEnd(const std::vector<std::string>& argv);

// A server child process. The constructor returns once the child has printed
// its first line, "ports <name>=<port> ..."; it throws std::runtime_error when
// the child ends or stays silent for a generous while instead. The destructor
// terminates the child and reaps it.
class ServerProcess {
  public:
    explicit ServerProcess(const std::vector<std::string>& argv);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // The port announced as name=<port>; 0 when the line names none.
    std::uint16_t Port(std::string_view name) const;

  private:
    void Terminate() noexcept;

    pid_t m_pid = -1;
    std::string m_readyLine;
};
