// The abort's event descriptor: made, fired and read.
#include "smtp/smtp_abort.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "smtp/smtp_error.h"

SmtpAbort::SmtpAbort() : m_eventFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (m_eventFd < 0) {
        throw ECSmtp(ERR_SOCKET);
    }
}

SmtpAbort::~SmtpAbort() {
    close(m_eventFd);
}

void SmtpAbort::Abort() noexcept {
    // The counter is never read, so it stays readable; a full counter
    // (EAGAIN) is readable already.
    const std::uint64_t one = 1;
    while (write(m_eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool SmtpAbort::Aborted() const noexcept {
    pollfd entry{m_eventFd, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&entry, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready > 0;
}
