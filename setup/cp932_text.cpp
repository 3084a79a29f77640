#include "setup/cp932_text.h"

#include <iconv.h>

#include <QByteArray>
#include <array>
#include <cerrno>
#include <memory>

namespace {

struct IconvCloser {
    void operator()(void* cd) const noexcept { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenConverter(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return nullptr;
    }
    return IconvHandle(cd);
}

// Converts all of `input`; on an invalid or incomplete sequence calls
// `onBad` with the output so far and skips one input byte. Returns false when
// no converter exists.
template <typename OnBad>
bool Convert(const char* to, const char* from, std::string_view input, std::string& out,
             OnBad onBad) {
    IconvHandle converter = OpenConverter(to, from);
    if (!converter) {
        return false;
    }
    auto* cd = static_cast<iconv_t>(converter.get());
    std::string buffer(input);  // iconv wants a mutable pointer
    char* in = buffer.data();
    std::size_t inLeft = buffer.size();
    std::array<char, 512> chunk{};
    while (inLeft > 0) {
        char* outPtr = chunk.data();
        std::size_t outLeft = chunk.size();
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk.data(), chunk.size() - outLeft);
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        onBad(out);
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

}  // namespace

QString Cp932ToText(std::string_view bytes) {
    std::string utf8;
    const bool converted =
        Convert("UTF-8", "CP932", bytes, utf8, [](std::string& out) { out += "\xEF\xBF\xBD"; });
    if (!converted) {
        return QString(static_cast<qsizetype>(bytes.size()), QChar(QChar::ReplacementCharacter));
    }
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::optional<std::string> TextToCp932(const QString& text) {
    // toUtf8 turns an unpaired surrogate into U+FFFD, which then fails below.
    const QByteArray utf8 = text.toUtf8();
    const std::string_view input(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    std::string bytes;
    bool bad = false;
    if (!Convert("CP932", "UTF-8", input, bytes, [&bad](std::string&) { bad = true; }) || bad) {
        return std::nullopt;
    }
    // Look-alike mappings do not come back as they went in.
    if (Cp932ToText(bytes) != text) {
        return std::nullopt;
    }
    return bytes;
}

bool Cp932CanHold(char32_t ucs4) {
    return TextToCp932(QString::fromUcs4(&ucs4, 1)).has_value();
}

int CountCp932Unholdable(const QString& text) {
    int count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            // No character outside the BMP is in CP932.
            ++count;
            ++i;
        } else if (c.unicode() >= 0x80 && (c.isSurrogate() || !Cp932CanHold(c.unicode()))) {
            // Below 0x80 CP932 is ASCII, so only the rest needs the round trip.
            ++count;
        }
    }
    return count;
}
