// libFuzzer target over Base64Decode: a plain bit-by-bit reference decoder,
// the round trip through Base64Encode, Base64DecodeStrict against that round
// trip, and reads confined to the input (the text is copied into an
// allocation of exactly its size, without a NUL, so AddressSanitizer sees
// any read past it). A broken invariant aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "codec/base64.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The alphabet characters before the first one outside it ("=" included).
std::string_view AlphabetPrefix(std::string_view text) {
    return text.substr(0, text.find_first_not_of(Base64Chars));
}

// Six bits per character, a byte out whenever eight have gathered; bits left
// over at the end are dropped.
std::string ReferenceDecode(std::string_view text) {
    std::string out;
    unsigned bits = 0;
    int held = 0;
    for (const char c : AlphabetPrefix(text)) {
        bits = (bits << 6) | static_cast<unsigned>(Base64Chars.find(c));
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<char>((bits >> held) & 0xFFu));
        }
    }
    return out;
}

std::string Encode(std::string_view bytes) {
    return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<std::int32_t>(bytes.size()));
}

void Check(std::string_view text) {
    // Exactly text.size() bytes on the heap: nothing readable follows.
    const std::unique_ptr<char[]> exact(new char[text.size()]);
    if (!text.empty()) {
        std::memcpy(exact.get(), text.data(), text.size());
    }
    const std::string decoded = Base64Decode(std::string_view(exact.get(), text.size()));

    Require(decoded == ReferenceDecode(text), "Base64Decode differs from the reference");

    const std::string encoded = Encode(decoded);
    Require(Base64Decode(encoded) == decoded, "decoding the re-encoded bytes changed them");
    Require(encoded.size() % 4 == 0, "encoding not padded to whole groups");

    // The re-encoding repeats the alphabet prefix; only the last character of
    // a short group may differ, in the bits that carried no data.
    const std::string_view prefix = AlphabetPrefix(text);
    // A lone character in the last group carries no byte and is dropped.
    const std::size_t spare = prefix.size() % 4;
    const std::size_t same = spare == 0 ? prefix.size() : prefix.size() - 1;
    Require(std::string_view(encoded).substr(0, same) == prefix.substr(0, same),
            "re-encoding does not repeat the input");
    Require(spare > 1 || encoded.size() == same, "re-encoding longer than the input's groups");

    // The strict decoder takes every encoder output and nothing else.
    Require(Base64DecodeStrict(encoded) == decoded, "the strict decoder refuses an encoding");
    const std::optional<std::string> strict =
        Base64DecodeStrict(std::string_view(exact.get(), text.size()));
    if (strict) {
        const std::size_t pads = text.size() - text.find_last_not_of('=') - 1;
        Require(text.size() % 4 == 0 && pads <= 2 && text.size() - pads == prefix.size() &&
                    *strict == decoded,
                "the strict decoder takes a text no encoder writes");
    }
    Require(strict.has_value() == (encoded == text),
            "the strict decoder differs from a round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Check(text);
    // A view that stops inside the data: bytes after its end must not count.
    if (size > 1) {
        Check(text.substr(0, static_cast<std::size_t>(data[0]) % size));
    }
    return 0;
}
