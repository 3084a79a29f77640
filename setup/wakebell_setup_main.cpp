// wakebell-setup: the setup form of the Wakebell notifier.
#include "setup/setup_app.h"

int main(int argc, char** argv) {
    CSetupApp app(argc, argv);
    app.InitInstance();
    return 0;
}
