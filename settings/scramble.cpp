// Scrambling and unscrambling stored texts, and the scramble key from the clock.
#include "settings/scramble.h"

#include <array>
#include <cstddef>
#include <ctime>

#include "settings/key_paths.h"

namespace {

using Shifts = std::array<unsigned, 4>;

Shifts MaskedShifts(std::int32_t k1, std::int32_t k2, std::int32_t k3, std::int32_t k4) {
    const auto mask = [](std::int32_t part) { return static_cast<unsigned>(part) & 0x1Fu; };
    return {mask(k1), mask(k2), mask(k3), mask(k4)};
}

std::string Shift(std::string_view text, const Shifts& shifts, bool up) {
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned byte = static_cast<unsigned char>(text[i]);
        const unsigned shift = shifts[i % 4];
        // Unsigned arithmetic wraps; the final mask keeps it modulo 256.
        const unsigned shifted = up ? byte + shift : byte - shift;
        out[i] = static_cast<char>(static_cast<unsigned char>(shifted & 0xFFu));
    }
    return out;
}

}  // namespace

std::string ScrambleText(std::string_view text, std::int32_t k1, std::int32_t k2, std::int32_t k3,
                         std::int32_t k4) {
    return Shift(text, MaskedShifts(k1, k2, k3, k4), true);
}

std::string ScrambleText(std::string_view text, const ScrambleKey& key) {
    return ScrambleText(text, key.k1, key.k2, key.k3, key.k4);
}

std::string UnscrambleText(std::string_view text, std::int32_t k1, std::int32_t k2, std::int32_t k3,
                           std::int32_t k4) {
    return Shift(text, MaskedShifts(k1, k2, k3, k4), false);
}

std::string UnscrambleText(std::string_view text, const ScrambleKey& key) {
    return UnscrambleText(text, key.k1, key.k2, key.k3, key.k4);
}

ScrambleKey ScrambleKeyFromSeconds(int seconds) {
    const int s = ((seconds % 60) + 60) % 60;
    return ScrambleKey{s % 3, s % 4, s % 5, s % 7};
}

std::string NewScrambleKey(ScrambleKey& current, int seconds) {
    current = ScrambleKeyFromSeconds(seconds);
    return ScrambleText(kProductName, current);
}

std::string NewScrambleKey(ScrambleKey& current) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        // No local time to be had: fall back to the all-zero key, which the
        // generator also gives at second 0.
        return NewScrambleKey(current, 0);
    }
    return NewScrambleKey(current, local.tm_sec);
}
