// The form's font. The template asks for "ＭＳ Ｐゴシック" 10 pt, which a
// Linux desktop does not have; IPAPGothic (Debian's fonts-ipafont-gothic)
// is made to the same metrics and stands in for it, and failing that any
// Japanese sans-serif font.
#pragma once

#include <QFont>
#include <QStringList>

// The families tried in order after the template's own face.
QStringList DialogFontSubstitutes();

// The form font at `logicalDpiY`: the point size becomes a whole pixel
// height (10 pt at 96 dpi is 13 pixels), as the template's font does, so
// that dialog units come out the same whatever the font engine rounds.
// Also registers the substitutes for the template's face application-wide.
QFont DialogFont(int logicalDpiY);
