// Writing settings into an open key, as the register flow does: each helper
// sets one value of the key (or four, for the key parts) through
// RegistryKey::SetValue. Values become visible to readers when the key is
// closed (see registry_store.h).
//
// Each returns whether every value was set; a false leaves the key's
// transaction open, and the caller decides whether to close (commit what was
// set) or abandon the key (roll it all back).
#pragma once

#include <cstdint>
#include <string_view>

#include "settings/registry_store.h"
#include "settings/scramble.h"
#include "settings/settings_record.h"

// REG_SZ: `text` scrambled with `key`, all of its bytes, no NUL added.
bool SetTextValue(RegistryKey& key, std::string_view name, std::string_view text,
                  const ScrambleKey& scrambleKey);

// REG_DWORD: `value` as four little-endian bytes.
bool SetDwordValue(RegistryKey& key, std::string_view name, std::uint32_t value);

// Key1..Key4 (REG_DWORD) from the parts of `scrambleKey`, in that order; for
// the brand key.
bool SetScrambleKeyValues(RegistryKey& brandKey, const ScrambleKey& scrambleKey);

// The eleven texts (scrambled) and then the four check states of `record`,
// in the register flow's order; for the settings key. CONFIG_ERR is written
// separately with SetDwordValue(key, kConfigErrName, result).
bool SetSettingsValues(RegistryKey& settingsKey, const SettingsRecord& record,
                       const ScrambleKey& scrambleKey);
