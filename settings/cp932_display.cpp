#include "settings/cp932_display.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <memory>

namespace {

struct IconvCloser {
    void operator()(void* cd) const noexcept { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

// iconv_t is a pointer type in glibc; (iconv_t)-1 marks failure.
IconvHandle OpenConverter() {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return nullptr;
    }
    return IconvHandle(cd);
}

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
    IconvHandle converter = OpenConverter();
    if (!converter) {
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
    auto* cd = static_cast<iconv_t>(converter.get());
    std::string input(bytes);  // iconv wants a mutable pointer
    char* in = input.data();
    std::size_t inLeft = input.size();
    std::array<char, 256> buffer{};
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        AppendShown(out, std::string_view(buffer.data(), buffer.size() - outLeft));
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL (a lead byte cut off at the end): show the byte
        // and carry on after it with a fresh conversion state.
        AppendEscaped(out, static_cast<unsigned char>(*in));
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}
