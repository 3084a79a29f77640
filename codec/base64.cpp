// Base64 encoding and decoding, lenient and strict, over one decode table.
#include "codec/base64.h"

#include <array>
#include <cstddef>
#include <limits>

namespace {

constexpr unsigned char kNotInAlphabet = 0xFF;

constexpr std::array<unsigned char, 256> MakeDecodeTable() {
    std::array<unsigned char, 256> table{};
    table.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < Base64Chars.size(); ++i) {
        table[static_cast<unsigned char>(Base64Chars[i])] = static_cast<unsigned char>(i);
    }
    return table;
}

constexpr std::array<unsigned char, 256> kDecodeTable = MakeDecodeTable();

char Sextet(unsigned value) {
    return Base64Chars[value & 0x3Fu];
}

// Two output characters per lookup: entry v holds the characters of the two
// 6-bit halves of the 12-bit value v. Halves the table work of the hot loop.
constexpr std::size_t kPairs = 4096;

constexpr std::array<char, 2 * kPairs> MakePairTable() {
    std::array<char, 2 * kPairs> table{};
    for (std::size_t v = 0; v < kPairs; ++v) {
        table[2 * v] = Base64Chars[v >> 6];
        table[2 * v + 1] = Base64Chars[v & 0x3F];
    }
    return table;
}

constexpr std::array<char, 2 * kPairs> kPairTable = MakePairTable();

}  // namespace

std::string Base64Encode(const unsigned char* bytes, std::int32_t count) {
    if (bytes == nullptr || count <= 0) {
        return {};
    }
    const auto n = static_cast<std::size_t>(count);
    std::string out((n + 2) / 3 * 4, '\0');
    char* dst = out.data();

    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned group =
            (unsigned{bytes[i]} << 16) | (unsigned{bytes[i + 1]} << 8) | unsigned{bytes[i + 2]};
        const char* high = &kPairTable[std::size_t{2} * (group >> 12)];
        const char* low = &kPairTable[std::size_t{2} * (group & 0xFFFu)];
        dst[0] = high[0];
        dst[1] = high[1];
        dst[2] = low[0];
        dst[3] = low[1];
        dst += 4;
    }
    if (const std::size_t rest = n - i; rest > 0) {
        unsigned group = unsigned{bytes[i]} << 16;
        if (rest == 2) {
            group |= unsigned{bytes[i + 1]} << 8;
        }
        *dst++ = Sextet(group >> 18);
        *dst++ = Sextet(group >> 12);
        *dst++ = rest == 2 ? Sextet(group >> 6) : '=';
        *dst = '=';
    }
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 2);

    unsigned quad[4] = {};
    std::size_t held = 0;
    for (const char c : text) {
        const unsigned char value = kDecodeTable[static_cast<unsigned char>(c)];
        if (value == kNotInAlphabet) {
            break;  // "=", line ends, spaces and every other byte end the data
        }
        quad[held++] = value;
        if (held == 4) {
            out.push_back(static_cast<char>((quad[0] << 2) | (quad[1] >> 4)));
            out.push_back(static_cast<char>(((quad[1] & 0x0Fu) << 4) | (quad[2] >> 2)));
            out.push_back(static_cast<char>(((quad[2] & 0x03u) << 6) | quad[3]));
            held = 0;
        }
    }
    if (held >= 2) {
        out.push_back(static_cast<char>((quad[0] << 2) | (quad[1] >> 4)));
    }
    if (held == 3) {
        out.push_back(static_cast<char>(((quad[1] & 0x0Fu) << 4) | (quad[2] >> 2)));
    }
    return out;
}

std::optional<std::string> Base64DecodeStrict(std::string_view text) {
    if (text.size() % 4 != 0 ||
        text.size() / 4 * 3 > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    std::string bytes = Base64Decode(text);
    // The canonical text of the decoded bytes is the input itself, or the
    // input held something the lax decoder skipped or stopped at.
    const std::string again = Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                           static_cast<std::int32_t>(bytes.size()));
    if (again != text) {
        return std::nullopt;
    }
    return bytes;
}
