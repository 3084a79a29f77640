#include "setup/cp932_text.h"

#include <QByteArray>

#include "settings/iconv_convert.h"

QString Cp932ToText(std::string_view bytes) {
    std::string utf8;
    const bool converted = ConvertCharset(
        "UTF-8", "CP932", bytes, [&utf8](std::string_view piece) { utf8 += piece; },
        [&utf8](unsigned char) { utf8 += "\xEF\xBF\xBD"; });
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
    const bool converted = ConvertCharset(
        "CP932", "UTF-8", input, [&bytes](std::string_view piece) { bytes += piece; },
        [&bad](unsigned char) { bad = true; });
    if (!converted || bad) {
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
