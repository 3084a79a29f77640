// Converting byte texts between character sets with glibc's iconv.
#include "settings/iconv_convert.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <memory>
#include <string>

namespace {

struct IconvCloser {
    void operator()(void* cd) const noexcept { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

}  // namespace

bool ConvertCharset(const char* to, const char* from, std::string_view input,
                    const std::function<void(std::string_view)>& onText,
                    const std::function<void(unsigned char)>& onBad) {
    // iconv_t is a pointer type in glibc; (iconv_t)-1 marks failure.
    iconv_t opened = iconv_open(to, from);
    if (opened == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    const IconvHandle converter(opened);
    auto* cd = static_cast<iconv_t>(converter.get());
    std::string buffer(input);  // iconv wants a mutable pointer
    char* in = buffer.data();
    std::size_t inLeft = buffer.size();
    std::array<char, 512> chunk{};
    while (inLeft > 0) {
        char* outPtr = chunk.data();
        std::size_t outLeft = chunk.size();
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        onText(std::string_view(chunk.data(), chunk.size() - outLeft));
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // EILSEQ, or EINVAL for a lead byte cut off at the end.
        onBad(static_cast<unsigned char>(*in));
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}
