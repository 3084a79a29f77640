#include "setup/message_boxes.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace {

struct SeenBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget* parent = nullptr;
    QFont font;
};

// Once the box is up, notes what it shows and presses `press` (Esc when
// NoButton).
void AnswerNextBox(SeenBox& seen, QMessageBox::StandardButton press) {
    QTimer::singleShot(0, [&seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        seen = {box->windowTitle(),     box->text(),         box->icon(),
                box->standardButtons(), box->parentWidget(), box->font()};
        if (press == QMessageBox::NoButton) {
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            box->button(press)->click();
        }
    });
}

}  // namespace

class MessageBoxesTest : public QObject {
    Q_OBJECT

  private slots:
    void okBoxHasNoIconAndTheProgramNameAsCaption() {
        QWidget owner;
        owner.setFont(QFont(QStringLiteral("IPAPGothic"), 13));
        FormMessageBoxes boxes(&owner);
        SeenBox seen;
        AnswerNextBox(seen, QMessageBox::Ok);
        boxes.Ok(QStringLiteral("E-Mailは省略できません。"));
        QCOMPARE(seen.caption, QStringLiteral("setup_message_boxes_test"));
        QCOMPARE(seen.text, QStringLiteral("E-Mailは省略できません。"));
        QCOMPARE(seen.icon, QMessageBox::NoIcon);
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(seen.parent, &owner);
        QCOMPARE(seen.font, owner.font());
    }

    void questionHasTheQuestionIconAndAnswersYesOnlyForYes_data() {
        QTest::addColumn<int>("press");
        QTest::addColumn<bool>("answer");
        QTest::newRow("Yes") << int{QMessageBox::Yes} << true;
        QTest::newRow("No") << int{QMessageBox::No} << false;
        QTest::newRow("Esc") << int{QMessageBox::NoButton} << false;
    }

    void questionHasTheQuestionIconAndAnswersYesOnlyForYes() {
        QFETCH(int, press);
        QWidget owner;
        FormMessageBoxes boxes(&owner);
        SeenBox seen;
        AnswerNextBox(seen, static_cast<QMessageBox::StandardButton>(press));
        QTEST(boxes.YesNo(QStringLiteral("通信のテストを行います。よろしいですか？")), "answer");
        QCOMPARE(seen.icon, QMessageBox::Question);
        QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(seen.caption, QStringLiteral("setup_message_boxes_test"));
    }
};

QTEST_MAIN(MessageBoxesTest)
#include "message_boxes_test.moc"
