#include "settings/key_paths.h"

std::string SettingsKeyPath(const ScrambleKey& key) {
    return "Software\\" + ScrambleText(kProductName, key);
}
