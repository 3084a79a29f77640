#include "setup/cp932_text.h"

#include <QtTest>

class Cp932TextTest : public QObject {
    Q_OBJECT

  private slots:
    void decodesDoubleByteCharactersWholeEvenWithABackslashTrailByte() {
        // 表 is 0x95 0x5C: the trail byte must not turn into a backslash.
        QCOMPARE(Cp932ToText("\x95\x5C\x8E\xA6"), QStringLiteral("表示"));
        QCOMPARE(Cp932ToText("\xDB\xB8\xDE"), QStringLiteral("ﾛｸﾞ"));  // half-width kana
        QCOMPARE(Cp932ToText("a\\~"), QStringLiteral("a\\~"));         // ASCII as it is
        QCOMPARE(Cp932ToText(std::string_view("a\0b", 3)), QString::fromUtf16(u"a\0b", 3));
    }

    void undecodableBytesStayVisibleOnePerByte() {
        QCOMPARE(Cp932ToText("a\x80"
                             "b"),
                 QStringLiteral("a\uFFFDb"));
        QCOMPARE(Cp932ToText("\xFD\xFE\xFF"), QStringLiteral("\uFFFD\uFFFD\uFFFD"));
        QCOMPARE(Cp932ToText("ab\x82"), QStringLiteral("ab\uFFFD"));  // lead byte cut off
    }

    void encodesEveryFormTextAndRoundTrips_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << "me@example.jp" << QByteArray("me@example.jp");
        QTest::newRow("backslash trail") << "表示" << QByteArray("\x95\x5C\x8E\xA6");
        QTest::newRow("half-width kana") << "ﾛｸﾞ" << QByteArray("\xDB\xB8\xDE");
        QTest::newRow("full-width at and comma") << "＠，" << QByteArray("\x81\x97\x81\x43");
        QTest::newRow("full-width hyphen-minus")
            << "POP－Server" << QByteArray("POP\x81\x7CServer");
        QTest::newRow("wave dash") << "～" << QByteArray("\x81\x60");
        QTest::newRow("ideographic space") << "(例)　x" << QByteArray("(\x97\xE1)\x81\x40x");
    }

    void encodesEveryFormTextAndRoundTrips() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const std::optional<std::string> encoded = TextToCp932(text);
        QVERIFY(encoded.has_value());
        QCOMPARE(QByteArray::fromStdString(*encoded), bytes);
        QCOMPARE(Cp932ToText(*encoded), text);
    }

    void refusesWhatCp932CannotHoldInsteadOfReplacingIt_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("yen sign, which iconv turns into a backslash") << "a¥b";
        QTest::newRow("outside the BMP") << "a😀";
        QTest::newRow("accented Latin") << "café";
        QTest::newRow("replacement character") << "a\uFFFD";
        QTest::newRow("unpaired surrogate") << QString(QChar(0xD800));
    }

    void refusesWhatCp932CannotHoldInsteadOfReplacingIt() {
        QFETCH(QString, text);
        QVERIFY(!TextToCp932(text).has_value());
    }

    void countsEachCharacterItCannotHold() {
        QCOMPARE(CountCp932Unholdable(QStringLiteral("表示 ok ＠")), 0);
        QCOMPARE(CountCp932Unholdable(QStringLiteral("a¥😀b\uFFFD")), 3);
        QCOMPARE(CountCp932Unholdable(QString(QChar(0xDC00))), 1);
        QVERIFY(Cp932CanHold(U'全'));
        QVERIFY(!Cp932CanHold(U'¥'));
    }
};

QTEST_APPLESS_MAIN(Cp932TextTest)
#include "cp932_text_test.moc"
