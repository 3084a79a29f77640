// Picks the form's font: IPAPGothic in place of the template's, else a fallback.
#include "setup/dialog_font.h"

#include "setup/dialog_units.h"
#include "setup/form_template.h"

QStringList DialogFontSubstitutes() {
    return {QStringLiteral("MS PGothic"),        QStringLiteral("IPAPGothic"),
            QStringLiteral("IPA Pゴシック"),     QStringLiteral("IPAexGothic"),
            QStringLiteral("IPAGothic"),         QStringLiteral("Noto Sans CJK JP"),
            QStringLiteral("VL PGothic"),        QStringLiteral("TakaoPGothic"),
            QStringLiteral("Source Han Sans JP")};
}

QFont DialogFont(int logicalDpiY) {
    const QString face = QString::fromUtf8(kFormFontFace);
    QFont::insertSubstitutions(face, DialogFontSubstitutes());
    QFont font;
    QStringList families{face};
    families += DialogFontSubstitutes();
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(MulDiv(kFormFontPoints, logicalDpiY, 72));
    return font;
}
