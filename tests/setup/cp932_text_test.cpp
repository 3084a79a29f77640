// CP932 conversion, the exchange as the failure box shows it, and the
// edit-field validator that refuses what CP932 cannot hold.
#include "setup/cp932_text.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "setup/cp932_validator.h"
#include "setup/failure_box.h"
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

    // The failure box's 詳細: the exchange's bytes as lines a person can
    // read and copy, nothing dropped in silence.
    void anExchangeReadsAsTextWithEveryOddByteShown_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Shift_JIS body, backslash trail")
            << QByteArray("\x95\x5C\x8E\xA6OK\r\n") << QStringLiteral("表示OK\n");
        QTest::newRow("tab kept, control bytes escaped")
            << QByteArray("a\tb\x01"
                          "c\x7F\rd\x1B")
            << QStringLiteral("a\tb\\x01c\\x7F\\x0Dd\\x1B");
        // A lead byte cut off by a line end, and bytes that never decode.
        QTest::newRow("undecodable") << QByteArray("x\x82\r\n\xFD\xFFy")
                                     << QStringLiteral("x\\x82\n\\xFD\\xFFy");
        QTest::newRow("NUL") << QByteArray("a\0b", 3) << QStringLiteral("a\\x00b");
    }
    void anExchangeReadsAsTextWithEveryOddByteShown() {
        QFETCH(QByteArray, raw);
        QFETCH(QString, shown);
        QCOMPARE(ExchangeForPerson(std::string_view(raw.constData(),
                                                    static_cast<std::size_t>(raw.size()))),
                 shown);
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
        // What Linux input methods give for these Shift_JIS characters.
        QTest::newRow("JIS wave dash")
            << "9時〜18時" << QByteArray("9\x8E\x9E\x81\x60") + "18\x8E\x9E";
        QTest::newRow("JIS minus sign") << "−" << QByteArray("\x81\x7C");
        QTest::newRow("JIS double vertical line") << "‖" << QByteArray("\x81\x61");
        QTest::newRow("JIS cent sign") << "¢" << QByteArray("\x81\x91");
        QTest::newRow("JIS pound sign") << "£" << QByteArray("\x81\x92");
        QTest::newRow("JIS not sign") << "¬" << QByteArray("\x81\xCA");
        QTest::newRow("JIS em dash") << "a—b" << QByteArray("a\x81\x5C") + "b";
        QTest::newRow("yen sign, which iconv turns into a backslash") << "a¥b" << QByteArray();
        QTest::newRow("overline, which iconv turns into a tilde") << "a‾" << QByteArray();
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
            // Read back, a JIS form comes as CP932's own.
            QCOMPARE(Cp932ToText(*encoded), WithCp932Forms(text));
            QCOMPARE(WithCp932Forms(text).size(), text.size());
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

    // Every way text enters a field: what CP932 holds goes in (JIS forms as
    // CP932's), and a refusal names the characters under the field.
    void fieldsTakeJisFormsAndNameWhatTheyRefuse_data() {
        QTest::addColumn<QString>("way");  // "type", "commit" or "paste"
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");  // the field's text afterwards
        QTest::addColumn<QString>("hint");   // after the hint's words; null: none
        const auto row = [](const char* name, const char* way, const char* text, const char* shown,
                            const char* hint) {
            QTest::newRow(name) << QString(way) << QString(text) << QString(shown) << QString(hint);
        };
        row("typed wave dash", "type", "9時〜18時", "9時～18時", nullptr);
        row("committed JIS forms", "commit", "〜−‖¢£¬—", "～－∥￠￡￢―", nullptr);
        row("pasted JIS forms", "paste", "a−b", "a－b", nullptr);
        row("typed yen sign", "type", "a¥", "a", ": ¥");
        row("typed emoji", "type", "b😀", "b", ": 😀");
        row("committed accented", "commit", "のcafé", "", ": é");
        row("pasted, each named once", "paste", "x¥y😀z¥", "", ": ¥ 😀");
        row("typed into a password field", "password", "pw¥", "pw", "");
    }
    void fieldsTakeJisFormsAndNameWhatTheyRefuse() {
        QFETCH(QString, way);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, hint);
        QWidget window;
        auto* edit = new QLineEdit(&window);
        auto* validator = new Cp932Validator(edit);
        window.show();
        edit->setFocus();
        if (way == "type" || way == "password") {
            edit->setEchoMode(way == "password" ? QLineEdit::Password : QLineEdit::Normal);
            TypeText(edit, text);
        } else if (way == "commit") {
            QInputMethodEvent event;
            event.setCommitString(text);
            QApplication::sendEvent(edit, &event);
        } else {
            QApplication::clipboard()->setText(text);
            edit->paste();
        }
        QCOMPARE(edit->text(), shown);
        QCOMPARE(validator->Hint()->isVisible(), !hint.isNull());
        if (hint.isNull()) {
            return;
        }
        QCOMPARE(validator->Hint()->text(), QStringLiteral("この文字は使えません") + hint);
        // Under the field, and gone once the text changes.
        QCOMPARE(validator->Hint()->pos(), edit->mapToGlobal(QPoint(0, edit->height())));
        TypeText(edit, QStringLiteral("k"));
        QVERIFY(!validator->Hint()->isVisible());
    }

    void damagedLoadedTextCanBeEditedButNotMadeWorse() {
        QLineEdit edit;
        auto* validator = new Cp932Validator(&edit);
        edit.setText(QStringLiteral("a\uFFFDb"));  // set by the program, not typed
        QVERIFY(!validator->Hint()->isVisible());
        edit.end(false);
        TypeText(&edit, QStringLiteral("c¥"));
        QCOMPARE(edit.text(), QStringLiteral("a\uFFFDbc"));
        // The hint names what was refused, not the damage already there.
        QCOMPARE(validator->Hint()->text(), QStringLiteral("この文字は使えません: ¥"));
        edit.setCursorPosition(2);
        edit.backspace();  // removing the damage is always allowed
        QCOMPARE(edit.text(), QStringLiteral("abc"));
        TypeText(&edit, QStringLiteral("\uFFFD"));
        QCOMPARE(edit.text(), QStringLiteral("abc"));
    }
};

QTEST_MAIN(Cp932TextTest)
#include "cp932_text_test.moc"
