// Writes a settings store the way the register flow leaves it: the settings
// key with every value and CONFIG_ERR, then the brand key with the key parts.
#pragma once

#include <filesystem>

#include "settings/key_paths.h"
#include "settings/registry_store.h"
#include "settings/settings_record.h"
#include "settings/settings_writer.h"

inline bool WriteStoredSettings(const std::filesystem::path& file, const SettingsRecord& record,
                                const ScrambleKey& key = {2, 3, 4, 3}) {
    RegistryStore store(file);
    std::optional<RegistryKey> settings = store.CreateKey(SettingsKeyPath(key));
    if (!settings || !SetSettingsValues(*settings, record, key) ||
        !SetDwordValue(*settings, kConfigErrName, 0) || !settings->Close()) {
        return false;
    }
    std::optional<RegistryKey> brand = store.CreateKey(kBrandKeyPath);
    return brand && SetScrambleKeyValues(*brand, key) && brand->Close();
}
