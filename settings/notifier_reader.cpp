// Reading what the notifier needs from the store.
#include "settings/notifier_reader.h"

#include "settings/key_paths.h"
#include "settings/one_line.h"
#include "settings/registry_value.h"
#include "settings/settings_loader.h"

NotifierSettings ReadNotifierSettings(const RegistryStore& store) {
    NotifierSettings result;
    result.condition = store.Examine(&result.problem);
    if (result.condition != StoreCondition::kReadable) {
        return result;
    }
    // The file's name may hold any byte, a line break too.
    const std::string where = OneLine(store.DatabaseFile().string());
    result.scrambleKey = ReadScrambleKey(store);
    if (!result.scrambleKey) {
        result.problem = "no settings stored (the brand key is missing) in " + where;
        return result;
    }
    std::optional<RegistryKey> settingsKey = store.OpenKey(SettingsKeyPath(*result.scrambleKey));
    if (!settingsKey) {
        result.problem = "no settings stored (the settings key is missing) in " + where;
        return result;
    }
    // One snapshot for the record and CONFIG_ERR, so they belong together.
    SettingsRecord record = LoadSettingsRecord(*settingsKey, *result.scrambleKey);
    const std::optional<RegistryValue> configErr = settingsKey->QueryValue(kConfigErrName);
    settingsKey->Close();
    if (configErr && configErr->type == REG_DWORD) {
        result.configErr = static_cast<std::int32_t>(DwordFromBytes(configErr->data));
    }
    if (record.szTo.empty()) {
        result.problem = "no usable settings stored (SzTo is empty) in " + where;
        return result;
    }
    result.record = std::move(record);
    result.usable = true;
    result.problem.clear();
    return result;
}
