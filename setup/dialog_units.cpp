// Converts dialog units to pixels from the dialog font's average character size.
#include "setup/dialog_units.h"

#include <QFontMetrics>
#include <cstdint>
#include <cstdlib>

DialogBaseUnits BaseUnitsFromMetrics(int latinLettersWidth, int fontHeight) {
    return {(latinLettersWidth / 26 + 1) / 2, fontHeight};
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    return BaseUnitsFromMetrics(metrics.horizontalAdvance(QStringLiteral(
                                    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
                                metrics.height());
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) {
        return 0;
    }
    const std::int64_t product = std::int64_t{number} * numerator;
    const std::int64_t half = std::llabs(denominator) / 2;
    const bool negative = (product < 0) != (denominator < 0);
    const std::int64_t magnitude = (std::llabs(product) + half) / std::llabs(denominator);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect DialogUnitsToPixels(const QRect& units, DialogBaseUnits base) {
    return {MulDiv(units.x(), base.x, 4), MulDiv(units.y(), base.y, 8),
            MulDiv(units.width(), base.x, 4), MulDiv(units.height(), base.y, 8)};
}
