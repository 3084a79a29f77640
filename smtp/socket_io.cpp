#include "smtp/socket_io.h"

#include <cerrno>
#include <ctime>

WaitResult WaitForSocket(int fd, short events, int millis, short* revents) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = poll(&entry, 1, millis);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        *revents = entry.revents;
        if (ready < 0) {
            return WaitResult::kFailed;
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
