// Writing the scramble key and the settings record into open keys.
#include "settings/settings_writer.h"

#include <cstddef>

#include "settings/key_paths.h"
#include "settings/registry_value.h"

bool SetTextValue(RegistryKey& key, std::string_view name, std::string_view text,
                  const ScrambleKey& scrambleKey) {
    return key.SetValue(name, REG_SZ, ScrambleText(text, scrambleKey));
}

bool SetDwordValue(RegistryKey& key, std::string_view name, std::uint32_t value) {
    return key.SetValue(name, REG_DWORD, DwordBytes(value));
}

bool SetScrambleKeyValues(RegistryKey& brandKey, const ScrambleKey& scrambleKey) {
    const std::int32_t parts[4] = {scrambleKey.k1, scrambleKey.k2, scrambleKey.k3, scrambleKey.k4};
    bool all = true;
    for (std::size_t i = 0; i < 4; ++i) {
        all =
            SetDwordValue(brandKey, kKeyPartNames[i], static_cast<std::uint32_t>(parts[i])) && all;
    }
    return all;
}

bool SetSettingsValues(RegistryKey& settingsKey, const SettingsRecord& record,
                       const ScrambleKey& scrambleKey) {
    bool all = true;
    for (const TextValueName& text : kTextValues) {
        all = SetTextValue(settingsKey, text.name, record.*text.field, scrambleKey) && all;
    }
    for (const StateValueName& state : kStateValues) {
        all = SetDwordValue(settingsKey, state.name,
                            static_cast<std::uint32_t>(record.*state.field)) &&
              all;
    }
    return all;
}
