// peak_rss, which the mail benchmark runs each client through for its
// memory: it reports the command's own largest resident set, not the size
// of the (large) process that started it, and passes the exit status on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_runs.h"

namespace {

// The KiB peak_rss wrote, or -1 when it wrote nothing readable.
long Written(const std::string& file) {
    long kib = -1;
    std::ifstream(file) >> kib;
    return kib;
}

// This process holds 256 MiB, touched, while it starts the commands: a
// child's ru_maxrss measured from here would be at least that much.
TEST(PeakRssTest, MeasuresTheCommandNotTheProcessThatStartedIt) {
    const std::string file =
        (std::filesystem::temp_directory_path() / ("peak_rss_test." + std::to_string(getpid())))
            .string();
    std::vector<char> ballast(std::size_t{256} << 20, 1);
    ASSERT_EQ(RunProcess({WAKEBELL_PEAK_RSS, file, "/bin/true"}), 0);
    EXPECT_GT(Written(file), 0);
    EXPECT_LT(Written(file), 64 * 1024);
    // A command that itself takes 96 MiB is measured at that size.
    ASSERT_EQ(
        RunProcess({WAKEBELL_PEAK_RSS, file, "/usr/bin/python3", "-c", "b = bytearray(96 << 20)"}),
        0);
    EXPECT_GE(Written(file), 96 * 1024);
    EXPECT_LT(Written(file), 200 * 1024);
    EXPECT_EQ(RunProcess({WAKEBELL_PEAK_RSS, file, "/bin/sh", "-c", "exit 3"}), 3);
    EXPECT_EQ(ballast[ballast.size() / 2], 1);
    std::filesystem::remove(file);
}

}  // namespace
