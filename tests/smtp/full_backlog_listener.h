// A port on 127.0.0.1 where a connect never completes, without leaving the
// machine: a listening socket that nobody accepts from, with a backlog of 0,
// already holding one connection. Linux then drops every further SYN, so the
// next connect stays pending until its caller gives up.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

class FullBacklogListener {
  public:
    FullBacklogListener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        if (m_listener < 0 || bind(m_listener, generic, length) != 0 ||
            listen(m_listener, 0) != 0 || getsockname(m_listener, generic, &length) != 0 ||
            m_filler < 0 || connect(m_filler, generic, length) != 0) {
            throw std::runtime_error("cannot fill a listening socket's backlog");
        }
        m_port = ntohs(address.sin_port);
    }
    ~FullBacklogListener() {
        close(m_filler);
        close(m_listener);
    }
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;

    std::uint16_t Port() const { return m_port; }

  private:
    int m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t m_port = 0;
};
