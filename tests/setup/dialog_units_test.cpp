#include "setup/dialog_units.h"

#include <QtTest>

class DialogUnitsTest : public QObject {
    Q_OBJECT

  private slots:
    void baseUnitsRoundTheAverageLetterWidth() {
        // 52 letters: 312 px average exactly 6; 337 px is 6.48 and 338 px 6.5.
        QCOMPARE(BaseUnitsFromMetrics(312, 13).x, 6);
        QCOMPARE(BaseUnitsFromMetrics(337, 13).x, 6);
        QCOMPARE(BaseUnitsFromMetrics(338, 13).x, 7);
        QCOMPARE(BaseUnitsFromMetrics(338, 13).y, 13);
    }

    void mulDivRoundsHalfAwayFromZero() {
        QCOMPARE(MulDiv(407, 6, 4), 611);   // 610.5
        QCOMPARE(MulDiv(238, 13, 8), 387);  // 386.75
        QCOMPARE(MulDiv(12, 13, 8), 20);    // 19.5
        QCOMPARE(MulDiv(-3, 1, 2), -2);
        QCOMPARE(MulDiv(3, 1, -2), -2);
        QCOMPARE(MulDiv(1 << 30, 8, 8), 1 << 30);  // no overflow on the way
        QCOMPARE(MulDiv(5, 3, 0), 0);
    }
};

QTEST_APPLESS_MAIN(DialogUnitsTest)
#include "dialog_units_test.moc"
