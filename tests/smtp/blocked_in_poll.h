// For the abort tests: firing an abort at a client that really waits, not
// at one still on its way to the wait.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "smtp/smtp_abort.h"

// What /proc/self/task/<tid>/syscall names: the system call the thread is
// blocked in. False when it is in another or running; true when the file
// cannot be read (a kernel without it), where waiting longer would not help.
inline bool BlockedInPoll(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    if (!(file >> number)) {
        return !file.is_open();
    }
#ifdef SYS_poll
    if (number == SYS_poll) {
        return true;
    }
#endif
    return number == SYS_ppoll;
}

// Runs `work` on a thread of its own and fires `abort` from this one once
// `armed` is true and that thread is blocked in poll (or once `work` has
// ended, so that a client deaf to aborts fails rather than hangs the test).
// Returns when `work` has ended.
inline void AbortOnceBlocked(SmtpAbort& abort, const std::atomic<bool>& armed,
                             const std::function<void()>& work) {
    std::atomic<pid_t> worker{0};
    std::atomic<bool> done{false};
    std::thread thread([&] {
        worker = gettid();
        work();
        done = true;
    });
    while (!done && !(armed && worker != 0 && BlockedInPoll(worker))) {
        std::this_thread::yield();
    }
    abort.Abort();
    thread.join();
}
