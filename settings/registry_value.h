// The store's value types and the byte form of their data.
//
// A REG_SZ value carries the scrambled text bytes exactly, with no
// terminating NUL added; a REG_DWORD carries four bytes, little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The type numbers as the store's type column holds them.
inline constexpr std::uint32_t REG_SZ = 1;     // a text; data are its bytes
inline constexpr std::uint32_t REG_DWORD = 4;  // a 32-bit number, little-endian

struct RegistryValue {
    std::uint32_t type = 0;
    std::string data;  // raw bytes; may hold 0 bytes anywhere

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// The four little-endian bytes of `value`.
std::string DwordBytes(std::uint32_t value);

// The number in a REG_DWORD's data: up to four little-endian bytes, missing
// high bytes taken as 0. Bytes beyond the fourth are ignored.
std::uint32_t DwordFromBytes(std::string_view data);

// The low byte of a stored number, which is all that counts for check states
// and key parts: the first data byte of a REG_DWORD value; 0 for a missing
// value, a value of another type or empty data.
std::int32_t LowByteOf(const std::optional<RegistryValue>& value);
