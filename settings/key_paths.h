// The two keys of the store, named by their paths.
//
// The brand key holds the installation's scramble key (Key1..Key4); the
// settings key, whose last path element is the product name scrambled with
// that key, holds the settings and CONFIG_ERR. Paths are byte strings: the
// scrambled element is often not valid UTF-8 and must never be converted.
#pragma once

#include <string>
#include <string_view>

#include "settings/scramble.h"

inline constexpr std::string_view kBrandKeyPath = "Software\\KV73";
inline constexpr std::string_view kProductName = "Wakebell";

// Value names of the brand key, in the order they are written.
inline constexpr std::string_view kKeyPartNames[4] = {"Key1", "Key2", "Key3", "Key4"};

// "Software\" followed by ScrambleText("Wakebell", key), 17 bytes.
std::string SettingsKeyPath(const ScrambleKey& key);
