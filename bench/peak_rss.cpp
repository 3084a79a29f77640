// Runs a command and writes its largest resident set, for the mail benchmark:
//
//   peak_rss FILE COMMAND [ARG...]
//
// A child's ru_maxrss counts the memory of the process it was forked from as
// it was at the fork (the copied or shared address space is the child's until
// exec), so a large benchmark cannot measure its children directly. This
// small process forks the command instead, waits for it and writes its
// ru_maxrss in KiB, one number and a newline, to FILE.
//
// Exit status: the command's own; 125 with a one-line reason on standard
// error when the command cannot be started, FILE cannot be written or the
// command does not exit normally; 2 for a bad command line.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: peak_rss FILE COMMAND [ARG...]\n", stderr);
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "peak_rss: fork: %s\n", std::strerror(errno));
        return 125;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "peak_rss: %s: %s\n", argv[2], std::strerror(errno));
        _exit(125);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "peak_rss: wait4: %s\n", std::strerror(errno));
            return 125;
        }
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(argv[1], "we"), &std::fclose);
    if (!out || std::fprintf(out.get(), "%ld\n", usage.ru_maxrss) < 0 ||
        std::fclose(out.release()) != 0) {
        std::fprintf(stderr, "peak_rss: cannot write %s\n", argv[1]);
        return 125;
    }
    if (!WIFEXITED(status)) {
        std::fprintf(stderr, "peak_rss: %s did not exit normally\n", argv[2]);
        return 125;
    }
    return WEXITSTATUS(status);
}
