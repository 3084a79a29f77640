// For the abort tests: whether a thread of this process is blocked in
// poll(2) right now, so that an abort is fired at a client that really
// waits rather than at one still on its way to the wait.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>

#include <fstream>
#include <string>

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
