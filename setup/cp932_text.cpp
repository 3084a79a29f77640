// Converts between the form's Unicode texts and CP932 bytes through iconv.
#include "setup/cp932_text.h"

#include <QByteArray>

#include "settings/iconv_convert.h"

namespace {

// The JIS mapping's character, and CP932's for the same bytes.
struct CharacterPair {
    char16_t jis;
    char16_t cp932;
};

constexpr CharacterPair kJisForms[] = {
    {u'\u301C', u'\uFF5E'},  // 81 60 wave dash
    {u'\u2212', u'\uFF0D'},  // 81 7C minus sign
    {u'\u2016', u'\u2225'},  // 81 61 double vertical line
    {u'\u00A2', u'\uFFE0'},  // 81 91 cent sign
    {u'\u00A3', u'\uFFE1'},  // 81 92 pound sign
    {u'\u00AC', u'\uFFE2'},  // 81 CA not sign
    {u'\u2014', u'\u2015'},  // 81 5C em dash
};

// Calls `each` with every character of `text` CP932 cannot hold.
template <typename Each>
void ForEachUnholdable(const QString& text, Each each) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            // No character outside the BMP is in CP932.
            each(text.mid(i, 2));
            ++i;
        } else if (c.unicode() >= 0x80 && (c.isSurrogate() || !Cp932CanHold(c.unicode()))) {
            // Below 0x80 CP932 is ASCII, so only the rest needs the round trip.
            each(QString(c));
        }
    }
}

}  // namespace

QString WithCp932Forms(QString text) {
    for (QChar& c : text) {
        for (const CharacterPair& pair : kJisForms) {
            if (c.unicode() == pair.jis) {
                c = QChar(pair.cp932);
                break;
            }
        }
    }
    return text;
}

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

std::optional<std::string> TextToCp932(const QString& typed) {
    const QString text = WithCp932Forms(typed);
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

QStringList Cp932UnholdableCharacters(const QString& text) {
    QStringList characters;
    ForEachUnholdable(text, [&characters](const QString& character) {
        if (!characters.contains(character)) {
            characters << character;
        }
    });
    return characters;
}

int CountCp932Unholdable(const QString& text) {
    int count = 0;
    ForEachUnholdable(text, [&count](const QString&) { ++count; });
    return count;
}
