// Bytes as lowercase hexadecimal text, two digits a byte.
#pragma once

#include <span>
#include <string>

// "00ff10" for {0x00, 0xFF, 0x10}; empty for no bytes. Never fails but for
// std::bad_alloc.
inline std::string LowerHex(std::span<const unsigned char> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const unsigned char byte : bytes) {
        hex.push_back(kDigits[byte >> 4U]);
        hex.push_back(kDigits[byte & 0x0FU]);
    }
    return hex;
}
