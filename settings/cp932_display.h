// Showing stored texts (CP932 / Shift_JIS bytes) on a UTF-8 terminal.
#pragma once

#include <string>
#include <string_view>

// Converts `bytes` from CP932 to UTF-8 with glibc iconv for display only.
// Nothing is dropped silently and nothing reaches the terminal raw: a byte
// that does not convert and a control character (below 0x20, and 0x7F) are
// shown as "\xNN", a backslash as "\\" and a double quote as "\"", so a
// result printed between double quotes reads back unambiguously. Without a
// CP932 converter every byte of 0x80 or above is escaped.
std::string Cp932ForDisplay(std::string_view bytes);
