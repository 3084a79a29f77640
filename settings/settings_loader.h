// Loading the settings record from the store, as the form does when it opens.
//
// Both functions keep the store's silent-failure contract: a key that does not open or a value that
// is missing, of the wrong type or unreadable gives empty texts and zero numbers; nothing is
// reported. The store is never changed.
#pragma once

#include <optional>

#include "settings/registry_store.h"
#include "settings/scramble.h"
#include "settings/settings_record.h"

// The installation's scramble key from the brand key "Software\KV73":
// "key1".."key4", the low byte of each REG_DWORD, 0 for a part that is
// missing or not a REG_DWORD. nullopt when the brand key does not open.
std::optional<ScrambleKey> ReadScrambleKey(const RegistryStore& store);

// Fills a record from the store, in this order: the scramble key (above; no
// brand key gives the empty record); the settings key "Software\" +
// ScrambleText("Wakebell", key) (missing: empty record); the eleven texts in
// kTextValues, each the full stored bytes unscrambled (a REG_DWORD
// or missing value gives an empty text); the four check states, each the low
// byte of a REG_DWORD (anything else gives 0). CONFIG_ERR is not read.
SettingsRecord LoadSettingsRecord(const RegistryStore& store);

// The same with the settings key already open (the key taken as given).
SettingsRecord LoadSettingsRecord(const RegistryKey& settingsKey, const ScrambleKey& key);
