#include "setup/cp932_validator.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QtTest>

#include "typing.h"

class Cp932ValidatorTest : public QObject {
    Q_OBJECT

    static void Commit(QLineEdit* edit, const QString& text) {
        QInputMethodEvent event;
        event.setCommitString(text);
        QApplication::sendEvent(edit, &event);
    }

  private slots:
    void typedCharactersCp932CannotHoldAreRefused() {
        QLineEdit edit;
        new Cp932Validator(&edit);
        TypeText(&edit, QStringLiteral("a¥b😀c表"));
        QCOMPARE(edit.text(), QStringLiteral("abc表"));
    }

    void inputMethodCommitsAreJudgedWhole() {
        QLineEdit edit;
        new Cp932Validator(&edit);
        Commit(&edit, QStringLiteral("会社"));
        Commit(&edit, QStringLiteral("のcafé"));
        QCOMPARE(edit.text(), QStringLiteral("会社"));
    }

    void aPasteWithOneSuchCharacterIsRefusedWhole() {
        QLineEdit edit;
        new Cp932Validator(&edit);
        edit.setText(QStringLiteral("x"));
        QGuiApplication::clipboard()->setText(QStringLiteral("pop.example.jp¥"));
        edit.paste();
        QCOMPARE(edit.text(), QStringLiteral("x"));
        QGuiApplication::clipboard()->setText(QStringLiteral("ＰＯＰ－Server"));
        edit.paste();
        QCOMPARE(edit.text(), QStringLiteral("xＰＯＰ－Server"));
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

QTEST_MAIN(Cp932ValidatorTest)
#include "cp932_validator_test.moc"
