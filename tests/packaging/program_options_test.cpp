// The packaged programs' --help and --version, run as built: both answer on
// standard output with status 0, the form without a display (Qt is not
// started for them), and every option the help names is in the manual page.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "tests/settings/temp_folder.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `program arguments` with no display and no platform named.
Outcome RunProgram(const std::string& program, const std::string& arguments) {
    const TempFolder temp;
    const std::string out = temp.Path() / "out";
    const std::string err = temp.Path() / "err";
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + program +
                                "' " + arguments + " >'" + out + "' 2>'" + err + "' </dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

struct Case {
    const char* program;  // named as installed, and as its manual page
    const char* arguments;
    int status;
    const char* outStart;  // what standard output starts with
};

constexpr const char* kSettings = WAKEBELL_SETTINGS_PROGRAM;
constexpr const char* kSetup = WAKEBELL_SETUP_PROGRAM;
const Case kCases[] = {
    {kSettings, "--help", 0, "usage: wakebell-settings "},
    {kSettings, "-h", 0, "usage: wakebell-settings "},
    {kSettings, "--db /nonexistent/x.db --help", 0, "usage: wakebell-settings "},
    {kSettings, "--version", 0, "wakebell-settings " WAKEBELL_VERSION "\n"},
    {kSettings, "--show-password --version", 0, "wakebell-settings " WAKEBELL_VERSION "\n"},
    {kSettings, "--versions", 3, ""},
    {kSetup, "--help", 0, "usage: wakebell-setup "},
    {kSetup, "-h", 0, "usage: wakebell-setup "},
    {kSetup, "--version", 0, "wakebell-setup " WAKEBELL_VERSION "\n"},
    {kSetup, "-platform xcb --version", 0, "wakebell-setup " WAKEBELL_VERSION "\n"},
    {kSetup, "--versions", 1, ""},  // anything else still needs a display
};

TEST(ProgramOptionsTest, HelpAndVersionAnswerOnStandardOutputWithoutADisplay) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.arguments);
        const Outcome outcome = RunProgram(c.program, c.arguments);
        EXPECT_EQ(outcome.status, c.status);
        if (c.status == 0) {
            EXPECT_TRUE(outcome.out.starts_with(c.outStart)) << outcome.out;
            EXPECT_EQ(outcome.err, "");
            if (std::string(c.outStart).ends_with('\n')) {
                EXPECT_EQ(outcome.out, c.outStart);  // --version: one line alone
            }
        } else {
            EXPECT_EQ(outcome.out, "");
            EXPECT_NE(outcome.err, "");
        }
    }
}

TEST(ProgramOptionsTest, EveryOptionTheHelpNamesIsInTheManualPage) {
    for (const char* program : {kSettings, kSetup}) {
        SCOPED_TRACE(program);
        const std::string name = std::filesystem::path(program).filename();
        const std::string help = RunProgram(program, "--help").out;
        const std::string page =
            ReadFile(std::filesystem::path(WAKEBELL_PACKAGING_DIR) / (name + ".1.scd"));
        ASSERT_NE(page, "");
        std::set<std::string> options;
        const std::regex option("(^|[\\s\\[|])(--?[a-z][a-z-]*)");
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) {
            options.insert((*it)[2]);
        }
        EXPECT_GE(options.size(), 3U) << help;
        for (const std::string& o : options) {
            EXPECT_NE(page.find("*" + o + "*"), std::string::npos) << o << " is not in the page";
        }
    }
}

}  // namespace
