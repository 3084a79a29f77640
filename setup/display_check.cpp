// Tells whether a display can be opened, before Qt is started.
#include "setup/display_check.h"

#include <cstdlib>
#include <string_view>

namespace {

bool IsSet(const char* value) {
    return value != nullptr && *value != '\0';
}

}  // namespace

DisplayEnvironment CurrentDisplayEnvironment(int argc, char** argv) {
    DisplayEnvironment environment{std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                   std::getenv("QT_QPA_PLATFORM"), false};
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-platform" || argument == "--platform" ||
            argument.starts_with("-platform=") || argument.starts_with("--platform=")) {
            environment.platformArgument = true;
        }
    }
    return environment;
}

std::optional<std::string> MissingDisplayReason(const DisplayEnvironment& environment) {
    if (IsSet(environment.display) || IsSet(environment.waylandDisplay) ||
        IsSet(environment.qpaPlatform) || environment.platformArgument) {
        return std::nullopt;
    }
    return "no display to show the form on: neither DISPLAY nor WAYLAND_DISPLAY is set "
           "(start it in a desktop session)";
}
