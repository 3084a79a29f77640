// Dialog units: the template's measure, scaled by the dialog font so that a
// form keeps its proportions at any font size.
//
// A horizontal unit is a quarter of the font's average character width and
// a vertical unit an eighth of its height. The average width is taken over
// the 52 Latin letters A-Z a-z and rounded to whole pixels, the height is
// ascent plus descent; both are integers, and a measure in units becomes
// pixels by multiplying and dividing with rounding half away from zero.
#pragma once

#include <QFont>
#include <QRect>

struct DialogBaseUnits {
    int x = 0;  // pixels per 4 horizontal units
    int y = 0;  // pixels per 8 vertical units
};

// From the width of "A..Za..z" and the font height, in pixels.
DialogBaseUnits BaseUnitsFromMetrics(int latinLettersWidth, int fontHeight);

// Measures `font` with QFontMetrics.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// number * numerator / denominator, rounded half away from zero; 0 when the
// denominator is 0.
int MulDiv(int number, int numerator, int denominator);

// A rectangle in dialog units as pixels.
QRect DialogUnitsToPixels(const QRect& units, DialogBaseUnits base);
