// wakebell-setup: the setup form of the Wakebell notifier.
#include <cstdio>

#include "setup/display_check.h"
#include "setup/setup_app.h"

int main(int argc, char** argv) {
    if (const auto reason = MissingDisplayReason(CurrentDisplayEnvironment(argc, argv))) {
        std::fprintf(stderr, "wakebell-setup: %s\n", reason->c_str());
        return 1;
    }
    CSetupApp app(argc, argv);
    app.InitInstance();
    return 0;
}
