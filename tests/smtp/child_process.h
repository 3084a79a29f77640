// A server the SMTP tests start as a child process; it announces its ports
// on one line of standard output once it listens.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The constructor returns once the child has printed its first line,
// "ports <name>=<port> ...", and throws std::runtime_error when the child
// ends without it. The destructor terminates the child and reaps it.
class ServerProcess {
  public:
    explicit ServerProcess(const std::vector<std::string>& argv);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // The port announced as name=<port>; 0 when the line names none.
    std::uint16_t Port(std::string_view name) const;

  private:
    pid_t m_pid = -1;
    std::string m_readyLine;
};
