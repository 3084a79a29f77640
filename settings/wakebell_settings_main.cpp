// wakebell-settings: prints what the per-user settings store holds, as the
// notifier will read it.
//
//   wakebell-settings [--db PATH] [--show-password]
//   wakebell-settings --help | --version
//
// Exit status: 0 usable settings printed (or the help or version asked
// for); 1 nothing usable stored; 2 the store cannot be read; 3 bad command
// line. On 1 and 2 one line on stderr says why. WAKEBELL_VERSION is the
// project's version, given by the build.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "settings/cp932_display.h"
#include "settings/notifier_reader.h"
#include "settings/store_files.h"

namespace {

constexpr int kExitUsable = 0;
constexpr int kExitNothingStored = 1;
constexpr int kExitUnreadable = 2;
constexpr int kExitUsage = 3;

constexpr std::string_view kUsage =
    "usage: wakebell-settings [--db PATH] [--show-password]\n"
    "       wakebell-settings --help | --version\n"
    "Prints the Wakebell mail settings stored for this user.\n"
    "  --db PATH         read PATH instead of the user's store\n"
    "  --show-password   print the password instead of masking it\n"
    "  --help            print this help and exit\n"
    "  --version         print the version and exit\n"
    "Exit status: 0 settings printed, 1 nothing usable stored,\n"
    "2 the store cannot be read, 3 bad command line.\n";

enum class Request { kShowSettings, kHelp, kVersion };

struct Options {
    Request request = Request::kShowSettings;
    std::optional<std::string> database;
    bool showPassword = false;
};

// Returns nullopt (after printing why) when the command line is not usable.
// --help and --version end the parsing: what follows them is not looked at.
std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--show-password") {
            options.showPassword = true;
        } else if (arg == "--db" && i + 1 < argc) {
            options.database = argv[++i];
        } else if (arg.starts_with("--db=")) {
            options.database = std::string(arg.substr(5));
        } else if (arg == "--help" || arg == "-h") {
            options.request = Request::kHelp;
            return options;
        } else if (arg == "--version") {
            options.request = Request::kVersion;
            return options;
        } else {
            std::cerr << "wakebell-settings: unknown or incomplete option: " << arg << '\n';
            return std::nullopt;
        }
    }
    if (options.database && options.database->empty()) {
        std::cerr << "wakebell-settings: --db needs a path\n";
        return std::nullopt;
    }
    return options;
}

void PrintLine(std::string_view label, std::string_view shown) {
    std::string padded(label);
    padded += ':';
    padded.resize(std::max<std::size_t>(padded.size(), 12), ' ');
    std::cout << padded << ' ' << shown << '\n';
}

std::string Text(const std::string& bytes) {
    return '"' + Cp932ForDisplay(bytes) + '"';
}

void PrintSettings(const NotifierSettings& settings, const std::string& file, bool showPassword) {
    const SettingsRecord& r = settings.record;
    PrintLine("Store", file);
    PrintLine("SzTo", Text(r.szTo) + "  (own address)");
    PrintLine("SMTP", Text(r.smtp));
    PrintLine("POP", Text(r.pop));
    PrintLine("Account", Text(r.account));
    if (showPassword || r.password.empty()) {
        PrintLine("Password", Text(r.password));
    } else {
        PrintLine("Password", "******** (hidden; --show-password shows it)");
    }
    PrintLine("SMTPPortNo", Text(r.smtpPortNo));
    PrintLine("POPPortNo", Text(r.popPortNo));
    PrintLine("E-Mail", Text(r.eMail) + "  (address notified)");
    PrintLine("User", Text(r.user));
    PrintLine("Subject", Text(r.subject));
    PrintLine("Subject2", Text(r.subject2));
    PrintLine("PowerOn", std::to_string(r.powerOn));
    PrintLine("PowerOff", std::to_string(r.powerOff));
    PrintLine("SSL", std::to_string(r.ssl));
    PrintLine("AUTH", std::to_string(r.auth));
    if (!settings.configErr) {
        PrintLine("CONFIG_ERR", "(not stored)");
    } else if (*settings.configErr == 0) {
        PrintLine("CONFIG_ERR", "0 (the last test mail was sent)");
    } else {
        PrintLine("CONFIG_ERR",
                  std::to_string(*settings.configErr) + " (the last test was declined or failed)");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    if (options->request == Request::kHelp) {
        std::cout << kUsage;
        return kExitUsable;
    }
    if (options->request == Request::kVersion) {
        std::cout << "wakebell-settings " << WAKEBELL_VERSION << '\n';
        return kExitUsable;
    }
    const std::string file = options->database ? *options->database : DefaultStorePath().string();
    const RegistryStore store(file);
    const NotifierSettings settings = ReadNotifierSettings(store);
    if (!settings.usable) {
        std::cerr << "wakebell-settings: " << settings.problem << '\n';
        return settings.condition == StoreCondition::kUnreadable ? kExitUnreadable
                                                                 : kExitNothingStored;
    }
    PrintSettings(settings, file, options->showPassword);
    std::cout.flush();
    return std::cout ? kExitUsable : kExitUnreadable;
}
