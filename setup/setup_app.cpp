// Starts Qt and shows the setup form until it closes.
#include "setup/setup_app.h"

#include "setup/app_icon.h"
#include "setup/setup_dlg.h"

CSetupApp::CSetupApp(int& argc, char** argv) : QApplication(argc, argv) {
    setWindowIcon(ApplicationIcon());
    // Lets Wayland desktops match the window to wakebell-setup.desktop.
    setDesktopFileName(QStringLiteral("wakebell-setup"));
}

bool CSetupApp::InitInstance() {
    CSetupDlg dialog;
    dialog.DoModal();
    return false;
}
