// Loading the scramble key and the settings record from the store.
#include "settings/settings_loader.h"

#include <cstddef>

#include "settings/key_paths.h"

namespace {

// The names as the loader spells them; the store folds case.
constexpr const char* kQueriedKeyParts[4] = {"key1", "key2", "key3", "key4"};

}  // namespace

std::optional<ScrambleKey> ReadScrambleKey(const RegistryStore& store) {
    std::optional<RegistryKey> brand = store.OpenKey(kBrandKeyPath);
    if (!brand) {
        return std::nullopt;
    }
    std::int32_t parts[4] = {};
    for (std::size_t i = 0; i < 4; ++i) {
        parts[i] = LowByteOf(brand->QueryValue(kQueriedKeyParts[i]));
    }
    brand->Close();
    return ScrambleKey{parts[0], parts[1], parts[2], parts[3]};
}

SettingsRecord LoadSettingsRecord(const RegistryKey& settingsKey, const ScrambleKey& key) {
    SettingsRecord record;
    for (const TextValueName& text : kTextValues) {
        const std::optional<RegistryValue> value = settingsKey.QueryValue(text.name);
        // The stored bytes are the whole text: a trailing 0 is a scrambled
        // byte, not a terminator, so nothing is cut off.
        if (value && value->type == REG_SZ) {
            record.*text.field = UnscrambleText(value->data, key);
        }
    }
    for (const StateValueName& state : kStateValues) {
        record.*state.field = LowByteOf(settingsKey.QueryValue(state.name));
    }
    return record;
}

SettingsRecord LoadSettingsRecord(const RegistryStore& store) {
    const std::optional<ScrambleKey> key = ReadScrambleKey(store);
    if (!key) {
        return {};
    }
    std::optional<RegistryKey> settingsKey = store.OpenKey(SettingsKeyPath(*key));
    if (!settingsKey) {
        return {};
    }
    SettingsRecord record = LoadSettingsRecord(*settingsKey, *key);
    settingsKey->Close();
    return record;
}
