// The boundary between the form's Unicode texts and the CP932 (Shift_JIS,
// Windows code page 932) bytes that the settings store and the SMTP client
// hold. Conversions use glibc's iconv "CP932".
//
// A character counts as one CP932 can hold only when it survives the trip
// there and back unchanged. glibc maps some characters to a look-alike
// (U+00A5 YEN SIGN becomes 0x5C, which reads back as a backslash); those are
// refused rather than silently changed.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

// Decodes stored bytes for display. A byte (or a lead byte whose trail is
// missing or invalid) that does not decode becomes one U+FFFD, so damaged
// text stays visible and can never be written back unnoticed: U+FFFD is not
// a character CP932 can hold.
QString Cp932ToText(std::string_view bytes);

// Encodes a form text, or nullopt when any character of it cannot be held
// (see above), so that nothing is replaced or dropped on the way.
std::optional<std::string> TextToCp932(const QString& text);

// Whether the code point `ucs4` can be held in CP932.
bool Cp932CanHold(char32_t ucs4);

// How many characters of `text` CP932 cannot hold (an unpaired surrogate
// counts as one such character).
int CountCp932Unholdable(const QString& text);
