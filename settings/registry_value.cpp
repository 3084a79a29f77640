// REG_DWORD data to and from its four little-endian bytes, and the low byte
// a check state counts by.
#include "settings/registry_value.h"

#include <cstddef>

std::string DwordBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(static_cast<unsigned char>((value >> (8 * i)) & 0xFFu));
    }
    return bytes;
}

std::uint32_t DwordFromBytes(std::string_view data) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < data.size() && i < 4; ++i) {
        value |= std::uint32_t{static_cast<unsigned char>(data[i])} << (8 * i);
    }
    return value;
}

std::int32_t LowByteOf(const std::optional<RegistryValue>& value) {
    if (!value || value->type != REG_DWORD || value->data.empty()) {
        return 0;
    }
    return static_cast<unsigned char>(value->data[0]);
}
