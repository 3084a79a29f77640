// Whether the program has a display to open its window on, checked before Qt
// is started: without one Qt aborts with several lines about platform
// plugins, where one line saying what is missing serves the user better.
#pragma once

#include <optional>
#include <string>

struct DisplayEnvironment {
    const char* display = nullptr;         // $DISPLAY
    const char* waylandDisplay = nullptr;  // $WAYLAND_DISPLAY
    const char* qpaPlatform = nullptr;     // $QT_QPA_PLATFORM
    bool platformArgument = false;         // -platform given on the command line
};

// The environment of this process for `argv`.
DisplayEnvironment CurrentDisplayEnvironment(int argc, char** argv);

// nullopt when a window can be opened (a display is named, or the platform
// is chosen explicitly and left to Qt); otherwise the one-line reason.
std::optional<std::string> MissingDisplayReason(const DisplayEnvironment& environment);
