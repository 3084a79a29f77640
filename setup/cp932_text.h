// The boundary between the form's Unicode texts and the CP932 (Shift_JIS,
// Windows code page 932) bytes that the settings store and the SMTP client
// hold. Conversions use glibc's iconv "CP932".
//
// A character counts as one CP932 can hold only when it survives the trip
// there and back unchanged. glibc maps some characters to a look-alike
// (U+00A5 YEN SIGN becomes 0x5C, which reads back as a backslash); those are
// refused rather than silently changed.
//
// Seven characters are the exception (WithCp932Forms): input methods on
// Linux produce them, under the JIS mapping of Shift_JIS, where a Windows
// desktop has CP932's own character for the same two bytes. They are taken
// as those characters.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <string_view>

// Decodes stored bytes for display. A byte (or a lead byte whose trail is
// missing or invalid) that does not decode becomes one U+FFFD, so damaged
// text stays visible and can never be written back unnoticed: U+FFFD is not
// a character CP932 can hold.
QString Cp932ToText(std::string_view bytes);

// `text` with each character of the JIS mapping replaced by the CP932
// character of the same Shift_JIS bytes; every other character as it is,
// so the length and positions stay:
//   U+301C 〜 -> U+FF5E ～ (81 60)    U+2212 − -> U+FF0D － (81 7C)
//   U+2016 ‖ -> U+2225 ∥ (81 61)     U+00A2 ¢ -> U+FFE0 ￠ (81 91)
//   U+00A3 £ -> U+FFE1 ￡ (81 92)    U+00AC ¬ -> U+FFE2 ￢ (81 CA)
//   U+2014 — -> U+2015 ― (81 5C)
QString WithCp932Forms(QString text);

// Encodes a form text (after WithCp932Forms), or nullopt when any character
// of it cannot be held (see above), so that nothing is replaced or dropped
// on the way.
std::optional<std::string> TextToCp932(const QString& text);

// Whether the code point `ucs4` can be held in CP932.
bool Cp932CanHold(char32_t ucs4);

// The characters of `text` CP932 cannot hold, each once, in the order they
// first appear (a surrogate pair is one character; an unpaired surrogate
// is one too).
QStringList Cp932UnholdableCharacters(const QString& text);

// How many characters of `text` CP932 cannot hold, repeats counted.
int CountCp932Unholdable(const QString& text);
