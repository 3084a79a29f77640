// The settings key's path, named by the scrambled product name.
#include "settings/key_paths.h"

std::string SettingsKeyPath(const ScrambleKey& key) {
    return "Software\\" + ScrambleText(kProductName, key);
}
