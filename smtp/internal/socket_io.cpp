// Bounded waits on a socket with poll(2), and the SIGPIPE guard.
#include "smtp/internal/socket_io.h"

#include <array>
#include <cerrno>
#include <ctime>

WaitResult WaitForSocket(int fd, short events, int millis, short* revents, int abortFd) {
    std::array<pollfd, 2> entries{pollfd{fd, events, 0}, pollfd{abortFd, POLLIN, 0}};
    const nfds_t count = abortFd >= 0 ? 2 : 1;
    for (;;) {
        const int ready = poll(entries.data(), count, millis);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        *revents = entries[0].revents;
        if (ready < 0) {
            return WaitResult::kFailed;
        }
        if (count == 2 && entries[1].revents != 0) {
            return WaitResult::kAborted;
        }
        return ready == 0 ? WaitResult::kTimeout : WaitResult::kReady;
    }
}

SigpipeGuard::SigpipeGuard() noexcept {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &m_saved);
}

SigpipeGuard::~SigpipeGuard() {
    if (!m_wasPending) {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec none{};
            while (sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
}
