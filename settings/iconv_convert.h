// Converting byte texts between character sets with glibc's iconv, for the
// CP932 texts of the store.
#pragma once

#include <functional>
#include <string_view>

// Converts all of input from the character set `from` to `to`. Converted
// bytes go to onText, in pieces. A byte that starts an invalid sequence, or
// a sequence cut off at the end, goes to onBad and is skipped; conversion
// carries on after it with a fresh state. Returns false, having passed
// nothing, when iconv cannot convert between the two sets.
bool ConvertCharset(const char* to, const char* from, std::string_view input,
                    const std::function<void(std::string_view)>& onText,
                    const std::function<void(unsigned char)>& onBad);
