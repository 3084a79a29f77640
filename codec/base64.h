// Base64 (RFC 4648, standard alphabet, "=" as pad) for SMTP authentication
// lines and attachment bodies.
//
// The encoder never breaks lines: a caller that wants lines of a given width
// feeds it one input chunk per line (54 bytes give a 72-character line).
// The functions are stateless and safe to call from any thread.
//
// Errors: none is raised. Base64Decode has no error result (it stops at the
// first foreign character); Base64DecodeStrict returns nullopt for any text
// an encoder would not write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The 64 alphabet characters in value order.
inline constexpr std::string_view Base64Chars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encodes `count` bytes starting at `bytes`. The result holds four characters
// per started group of three bytes; a last group of one or two bytes is padded
// with "==" or "=". A count of 0 (or less) gives an empty text.
std::string Base64Encode(const unsigned char* bytes, std::int32_t count);

// Decodes `text` and returns the bytes, NUL bytes included. Decoding stops
// quietly at the first "=" or at the first character outside the alphabet
// (CR, LF, space, any byte of 0x80 or above...): there is no error result.
// Left-over characters at the stop give what they can: three give two bytes,
// two give one byte, one gives nothing.
std::string Base64Decode(std::string_view text);

// Decodes text only when it is base64 as an encoder writes it: whole groups
// of four alphabet characters, the last of which may end in "=" or "==", with
// the bits that carry no data zero (RFC 4648, 3.5) — exactly the texts that
// Base64Encode gives. Anything else (a foreign byte, a line end, a missing or
// misplaced pad) gives nullopt. An empty text gives an empty string.
std::optional<std::string> Base64DecodeStrict(std::string_view text);
