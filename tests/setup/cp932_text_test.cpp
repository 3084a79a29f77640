// CP932 conversion, and the edit-field validator that refuses what CP932
// cannot hold.
#include "setup/cp932_text.h"

#include <QInputMethodEvent>
#include <QLineEdit>
#include <QtTest>

#include "setup/cp932_validator.h"
#include "typing.h"

class Cp932TextTest : public QObject {
    Q_OBJECT

  private slots:
    void decodesWholeCharactersAndKeepsDamageVisible() {
        // 表 is 0x95 0x5C: the trail byte must not turn into a backslash.
        QCOMPARE(Cp932ToText("\x95\x5C\x8E\xA6"), QStringLiteral("表示"));
        QCOMPARE(Cp932ToText("a\\~"), QStringLiteral("a\\~"));  // ASCII as it is
        QCOMPARE(Cp932ToText(std::string_view("a\0b", 3)), QString::fromUtf16(u"a\0b", 3));
        // One U+FFFD per undecodable byte, and for a lead byte cut off.
        QCOMPARE(Cp932ToText("a\x80"
                             "b\xFD\xFE\xFF"),
                 QStringLiteral("a\uFFFDb\uFFFD\uFFFD\uFFFD"));
        QCOMPARE(Cp932ToText("ab\x82"), QStringLiteral("ab\uFFFD"));
    }

    void encodesWhatCp932HoldsAndRefusesTheRest_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");  // null: refused, not replaced
        QTest::newRow("ascii") << "me@example.jp" << QByteArray("me@example.jp");
        QTest::newRow("backslash trail") << "表示" << QByteArray("\x95\x5C\x8E\xA6");
        QTest::newRow("half-width kana") << "ﾛｸﾞ" << QByteArray("\xDB\xB8\xDE");
        QTest::newRow("full-width at and comma") << "＠，" << QByteArray("\x81\x97\x81\x43");
        QTest::newRow("full-width hyphen-minus")
            << "POP－Server" << QByteArray("POP\x81\x7CServer");
        QTest::newRow("wave dash") << "～" << QByteArray("\x81\x60");
        QTest::newRow("ideographic space") << "(例)　x" << QByteArray("(\x97\xE1)\x81\x40x");
        QTest::newRow("yen sign, which iconv turns into a backslash") << "a¥b" << QByteArray();
        QTest::newRow("outside the BMP") << "a😀" << QByteArray();
        QTest::newRow("accented Latin") << "café" << QByteArray();
        QTest::newRow("replacement character") << "a\uFFFD" << QByteArray();
        QTest::newRow("unpaired surrogate") << QString(QChar(0xD800)) << QByteArray();
    }

    void encodesWhatCp932HoldsAndRefusesTheRest() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const std::optional<std::string> encoded = TextToCp932(text);
        QCOMPARE(CountCp932Unholdable(text), bytes.isNull() ? 1 : 0);
        QCOMPARE(encoded.has_value(), !bytes.isNull());
        if (encoded) {
            QCOMPARE(QByteArray::fromStdString(*encoded), bytes);
            QCOMPARE(Cp932ToText(*encoded), text);
        }
    }

    void fieldsRefuseTypedAndCommittedCharactersCp932CannotHold() {
        QLineEdit edit;
        new Cp932Validator(&edit);
        TypeText(&edit, QStringLiteral("a¥b😀c表"));
        QCOMPARE(edit.text(), QStringLiteral("abc表"));
        // An input method's commit (as a paste) is judged whole.
        for (const QString& text : {QStringLiteral("会社"), QStringLiteral("のcafé")}) {
            QInputMethodEvent event;
            event.setCommitString(text);
            QApplication::sendEvent(&edit, &event);
        }
        QCOMPARE(edit.text(), QStringLiteral("abc表会社"));
    }

    void damagedLoadedTextCanBeEditedButNotMadeWorse() {
        QLineEdit edit;
        new Cp932Validator(&edit);
        edit.setText(QStringLiteral("a\uFFFDb"));  // set by the program, not typed
        edit.end(false);
        TypeText(&edit, QStringLiteral("c¥"));
        QCOMPARE(edit.text(), QStringLiteral("a\uFFFDbc"));
        edit.setCursorPosition(2);
        edit.backspace();  // removing the damage is always allowed
        QCOMPARE(edit.text(), QStringLiteral("abc"));
        TypeText(&edit, QStringLiteral("\uFFFD"));
        QCOMPARE(edit.text(), QStringLiteral("abc"));
    }
};

QTEST_MAIN(Cp932TextTest)
#include "cp932_text_test.moc"
