// wakebell-setup: the setup form of the Wakebell notifier.
//
//   wakebell-setup [Qt options, e.g. -platform NAME]
//   wakebell-setup --help | --version
//
// --help and --version are answered before Qt is started, so they work
// without a display; every other argument is left to Qt. Exit status: 0 when
// the form has ended (or the help or version was printed); 1 when there is no
// display to show it on, with one line on stderr saying so. WAKEBELL_VERSION
// is the project's version, given by the build.
#include <cstdio>
#include <string_view>

#include "setup/display_check.h"
#include "setup/setup_app.h"

namespace {

constexpr const char* kUsage =
    "usage: wakebell-setup [Qt options]\n"
    "       wakebell-setup --help | --version\n"
    "Shows the form in which the Wakebell notifier's mail settings are entered,\n"
    "proved with a test mail and stored for this user.\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "Qt's own options (for example -platform xcb) are passed to Qt.\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("wakebell-setup %s\n", WAKEBELL_VERSION);
            return 0;
        }
    }
    if (const auto reason = MissingDisplayReason(CurrentDisplayEnvironment(argc, argv))) {
        std::fprintf(stderr, "wakebell-setup: %s\n", reason->c_str());
        return 1;
    }
    CSetupApp app(argc, argv);
    app.InitInstance();
    return 0;
}
