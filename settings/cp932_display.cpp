// Showing stored CP932 texts on a UTF-8 terminal, with escapes for what must
// not reach it raw.
#include "settings/cp932_display.h"

#include "settings/iconv_convert.h"

namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

void AppendShown(std::string& out, std::string_view utf8) {
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\' || byte == '"') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            AppendEscaped(out, byte);
        } else {
            out += c;
        }
    }
}

}  // namespace

std::string Cp932ForDisplay(std::string_view bytes) {
    std::string out;
    const bool converted = ConvertCharset(
        "UTF-8", "CP932", bytes, [&out](std::string_view utf8) { AppendShown(out, utf8); },
        [&out](unsigned char bad) { AppendEscaped(out, bad); });
    if (converted) {
        return out;
    }
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            AppendEscaped(out, byte);
        } else {
            AppendShown(out, std::string_view(&c, 1));
        }
    }
    return out;
}
