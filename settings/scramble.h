// The scrambling of stored texts and the scramble key that drives it.
//
// Every text the store holds, and the last element of the settings key's path,
// is scrambled: byte i of a text is shifted up by key part (i mod 4) + 1,
// modulo 256. Only the low 5 bits of a part count (part AND 0x1F), so any
// int32 is a usable part. Positions count bytes from 0 at the start of each
// text, so the two bytes of a double-byte character get different shifts and
// two fields holding the same text are scrambled identically.
//
// The notifier unscrambles with exactly this rule; changing it orphans every
// store already written. All functions are pure (apart from the clock read of
// NewScrambleKey) and safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One installation's key, stored in the brand key as Key1..Key4. Generated
// keys have k1 in 0..2, k2 in 0..3, k3 in 0..4 and k4 in 0..6; all zero is a
// valid key that leaves texts unchanged.
struct ScrambleKey {
    std::int32_t k1 = 0;
    std::int32_t k2 = 0;
    std::int32_t k3 = 0;
    std::int32_t k4 = 0;

    friend bool operator==(const ScrambleKey&, const ScrambleKey&) = default;
};

// Returns a text of the same length, byte i shifted up by the masked part
// (i mod 4) + 1, wrapping modulo 256. Any byte, 0 included, may appear in the
// input or the result; no length limit.
std::string ScrambleText(std::string_view text, std::int32_t k1, std::int32_t k2, std::int32_t k3,
                         std::int32_t k4);
std::string ScrambleText(std::string_view text, const ScrambleKey& key);

// The inverse of ScrambleText with the same parts: shifts down, modulo 256.
std::string UnscrambleText(std::string_view text, std::int32_t k1, std::int32_t k2, std::int32_t k3,
                           std::int32_t k4);
std::string UnscrambleText(std::string_view text, const ScrambleKey& key);

// The key the generator makes from the seconds field of the local time:
// k1 = s mod 3, k2 = s mod 4, k3 = s mod 5, k4 = s mod 7, so at most 60
// different keys exist and s = 0 gives all zero. A value outside 0..59 (a
// leap second, a careless caller) is first brought into 0..59 modulo 60.
ScrambleKey ScrambleKeyFromSeconds(int seconds);

// Makes a fresh key from one reading of the local time's seconds, stores it in
// `current` (the register flow's current scramble key) and returns the
// product name scrambled with it, the last element of the settings key path.
std::string NewScrambleKey(ScrambleKey& current);

// The same with the seconds given, so that callers and tests fix the clock.
std::string NewScrambleKey(ScrambleKey& current, int seconds);
