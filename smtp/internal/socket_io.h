// Small POSIX helpers under the client's channel: bounded waits on one
// socket, and writing without the process dying of SIGPIPE.
#pragma once

#include <poll.h>
#include <signal.h>

enum class WaitResult { kReady, kTimeout, kFailed, kAborted };

// Waits until fd reports one of events (POLLIN, POLLOUT) or an error or
// hang-up, for at most millis milliseconds (0: just looks). poll(2), not
// select(2), so descriptors above FD_SETSIZE work. An interrupted wait is
// resumed. *revents receives what poll reported. When abortFd is not -1 it
// is watched too, and its turning readable ends the wait with kAborted,
// which wins over anything the socket reports at the same time.
WaitResult WaitForSocket(int fd, short events, int millis, short* revents, int abortFd = -1);

// While alive, a write to a connection the peer has closed gives EPIPE on
// this thread instead of killing the process: SIGPIPE is blocked, and one
// raised meanwhile is taken back out of the pending set. OpenSSL writes with
// plain write(2), so MSG_NOSIGNAL cannot be passed there.
class SigpipeGuard {
  public:
    SigpipeGuard() noexcept;
    ~SigpipeGuard();

    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t m_saved{};
    bool m_wasPending = false;
};
