// What the notifier reads from the store, without the form.
//
// The notifier needs the settings record, the outcome of the last test mail
// (CONFIG_ERR) and to know whether anything usable is stored at all. Usable
// means what the form itself goes by: the brand key opens and the settings
// key it names holds a non-empty "SzTo" (the user's own address). A settings
// key written only by a declined or failed first test is therefore not
// usable, since no brand key names it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "settings/registry_store.h"
#include "settings/scramble.h"
#include "settings/settings_record.h"

struct NotifierSettings {
    StoreCondition condition = StoreCondition::kMissing;
    bool usable = false;
    // One line saying why nothing usable could be read; empty when usable.
    std::string problem;
    // The record as LoadSettingsRecord gives it (empty when not usable).
    SettingsRecord record;
    // The key the texts were unscrambled with, when the brand key opened.
    std::optional<ScrambleKey> scrambleKey;
    // CONFIG_ERR as stored (0: the last test mail was sent; 1: the test was
    // declined or failed), all four bytes; nullopt when missing or not a
    // REG_DWORD.
    std::optional<std::int32_t> configErr;
};

// Reads everything above from `store` without changing it. Never throws.
NotifierSettings ReadNotifierSettings(const RegistryStore& store);
