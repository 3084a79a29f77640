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
    const char* program;
    const char* name;  // as installed, and the manual page's name
    const char* arguments;
    int status;
    const char* outStart;  // what standard output starts with
};

const Case kCases[] = {
    {WAKEBELL_SETTINGS_PROGRAM, "wakebell-settings", "--help", 0, "usage: wakebell-settings "},
    {WAKEBELL_SETTINGS_PROGRAM, "wakebell-settings", "-h", 0, "usage: wakebell-settings "},
    {WAKEBELL_SETTINGS_PROGRAM, "wakebell-settings", "--db /nonexistent/x.db --help", 0,
     "usage: wakebell-settings "},
    {WAKEBELL_SETTINGS_PROGRAM, "wakebell-settings", "--version", 0,
     "wakebell-settings " WAKEBELL_VERSION "\n"},
    {WAKEBELL_SETTINGS_PROGRAM, "wakebell-settings", "--show-password --version", 0,
     "wakebell-settings " WAKEBELL_VERSION "\n"},
    {WAKEBELL_SETTINGS_PROGRAM, "wakebell-settings", "--versions", 3, ""},
    {WAKEBELL_SETUP_PROGRAM, "wakebell-setup", "--help", 0, "usage: wakebell-setup "},
    {WAKEBELL_SETUP_PROGRAM, "wakebell-setup", "-h", 0, "usage: wakebell-setup "},
    {WAKEBELL_SETUP_PROGRAM, "wakebell-setup", "--version", 0,
     "wakebell-setup " WAKEBELL_VERSION "\n"},
    {WAKEBELL_SETUP_PROGRAM, "wakebell-setup", "-platform xcb --version", 0,
     "wakebell-setup " WAKEBELL_VERSION "\n"},
    // Anything else still needs a display.
    {WAKEBELL_SETUP_PROGRAM, "wakebell-setup", "--versions", 1, ""},
};

TEST(ProgramOptionsTest, HelpAndVersionAnswerOnStandardOutputWithoutADisplay) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.arguments);
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
    for (const auto& [program, name] : {std::pair{WAKEBELL_SETTINGS_PROGRAM, "wakebell-settings"},
                                        std::pair{WAKEBELL_SETUP_PROGRAM, "wakebell-setup"}}) {
        SCOPED_TRACE(name);
        const std::string help = RunProgram(program, "--help").out;
        const std::string page = ReadFile(std::filesystem::path(WAKEBELL_PACKAGING_DIR) /
                                          (std::string(name) + ".1.scd"));
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
