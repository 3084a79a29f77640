// The application object: it owns the Qt application and does nothing but
// show the setup form.
#pragma once

#include <QApplication>

class CSetupApp : public QApplication {
  public:
    // Command-line arguments are left to Qt (its own -platform and the like)
    // and otherwise ignored.
    CSetupApp(int& argc, char** argv);

    // Builds the form with no parent, runs it modally until it ends, and
    // returns false: the program ends with the form.
    bool InitInstance();
};
