// The program with the system's own parts: the application object, the real
// message boxes, the store under $XDG_CONFIG_HOME, and how it starts without
// a display.
#include "setup/setup_app.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "setup/display_check.h"
#include "setup/message_boxes.h"

class SetupAppTest : public QObject {
    Q_OBJECT

  private slots:
    void initInstanceRunsTheFormUntilItEndsAndStoresNothing() {
        QTemporaryDir config;
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QString caption;
        QString smtpPort;
        // A user without a logon name first sees the box about it.
        std::function<void()> endForm = [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                box->accept();
                QTimer::singleShot(0, endForm);
                return;
            }
            QVERIFY(modal != nullptr);
            caption = modal->windowTitle();
            smtpPort = modal->findChild<QLineEdit*>(QStringLiteral("smtpPortEdit"))->text();
            QTest::keyClick(modal, Qt::Key_Escape);
        };
        QTimer::singleShot(0, endForm);

        auto* app = static_cast<CSetupApp*>(QCoreApplication::instance());
        QVERIFY(!app->InitInstance());
        QCOMPARE(caption, QStringLiteral("WakebellSetup"));
        QCOMPARE(smtpPort, QStringLiteral("465"));  // the empty store gave the defaults
        QVERIFY(std::filesystem::is_empty(config.path().toStdString()));  // nothing stored
        QVERIFY(QApplication::topLevelWidgets().isEmpty());               // the form is gone
        QVERIFY(QApplication::windowIcon().availableSizes().contains(QSize(256, 256)));
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("wakebell-setup"));
    }

    // Every box: the program's name, the form's font, Japanese buttons, the
    // further sentences and the 詳細 section; a question is Yes only for Yes.
    void boxesSpeakJapaneseAndAnswerYesOnlyForYes_data() {
        QTest::addColumn<bool>("question");
        QTest::addColumn<QString>("more");
        QTest::addColumn<QString>("details");
        QTest::addColumn<QString>("press");  // "click", "enter", "esc" or "alt+<letter>"
        QTest::addColumn<bool>("answer");
        const QString more = QStringLiteral("サーバーがパスワードを受け付けませんでした。");
        const QString details = QStringLiteral("S: 535 5.7.8 <auth> failed\nC: QUIT");
        const auto row = [](const char* name, bool question, const QString& further,
                            const QString& detailed, const char* press, bool answer) {
            QTest::newRow(name) << question << further << detailed << QString(press) << answer;
        };
        row("ok, clicked", false, {}, {}, "click", false);
        row("ok with more and details, Esc", false, more, details, "esc", false);
        row("ok with details, Enter", false, {}, details, "enter", false);
        row("yes, Enter", true, {}, {}, "enter", true);
        row("yes, Alt+Y", true, more, details, "alt+y", true);
        row("no, Alt+N", true, {}, {}, "alt+n", false);
        row("no, Esc", true, more, details, "esc", false);
    }
    void boxesSpeakJapaneseAndAnswerYesOnlyForYes() {
        QFETCH(bool, question);
        QFETCH(QString, more);
        QFETCH(QString, details);
        QFETCH(QString, press);
        QWidget owner;
        owner.setFont(QFont(QStringLiteral("IPAPGothic"), 13));
        FormMessageBoxes boxes(&owner);
        bool checked = false;
        const auto checkAndPress = [&](QMessageBox* box) {
            QVERIFY(QTest::qWaitForWindowActive(box));
            QCOMPARE(box->windowTitle(), QStringLiteral("setup_setup_app_test"));
            QCOMPARE(box->icon(), question ? QMessageBox::Question : QMessageBox::NoIcon);
            QCOMPARE(box->parentWidget(), &owner);
            QCOMPARE(box->font(), owner.font());
            QCOMPARE(box->text(), QStringLiteral("よろしいですか？"));
            QCOMPARE(box->informativeText(), more);
            QCOMPARE(box->detailedText(), details);
            QStringList texts;
            QAbstractButton* detailsButton = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                texts << button->text();
                detailsButton =
                    box->buttonRole(button) == QMessageBox::ActionRole ? button : detailsButton;
            }
            QStringList expected =
                question ? QStringList{"はい(&Y)", "いいえ(&N)"} : QStringList{"OK"};
            expected << (details.isEmpty() ? QStringList{} : QStringList{"詳細を表示..."});
            texts.sort();
            expected.sort();
            QCOMPARE(texts, expected);
            if (detailsButton != nullptr) {
                auto* detailsText = box->findChild<QTextEdit*>();
                QVERIFY(detailsText != nullptr && !detailsText->isVisible());
                // Opened, then closed: the button says which it will do.
                for (const auto& [open, text] :
                     {std::pair{true, "詳細を隠す..."}, {false, "詳細を表示..."}}) {
                    detailsButton->click();
                    QCOMPARE(detailsText->isVisible(), open);
                    QCOMPARE(detailsButton->text(), QString::fromUtf8(text));
                    QVERIFY(detailsButton->width() >=
                            detailsButton->fontMetrics().horizontalAdvance(detailsButton->text()));
                }
            }
            if (press == "click") {
                box->button(question ? QMessageBox::Yes : QMessageBox::Ok)->click();
            } else if (press == "enter") {
                QTest::keyClick(box, Qt::Key_Return);
            } else if (press == "esc") {
                QTest::keyClick(box, Qt::Key_Escape);
            } else {
                QTest::keyClick(box, press.back().toLatin1(), Qt::AltModifier);
            }
            checked = true;
        };
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            checkAndPress(box);
            if (!checked) {
                box->reject();  // a failed check must not leave the box open
            }
        });
        const BoxMessage message{QStringLiteral("よろしいですか？"), more, details};
        if (question) {
            QTEST(boxes.Ask(message), "answer");
        } else {
            boxes.Tell(message);
        }
        QVERIFY(checked);
    }

    void anyNamedDisplayOrChosenPlatformWillDo() {
        QVERIFY(!MissingDisplayReason({":0", nullptr, nullptr, false}));
        QVERIFY(!MissingDisplayReason({nullptr, "wayland-0", nullptr, false}));
        QVERIFY(!MissingDisplayReason({nullptr, nullptr, "offscreen", false}));
        QVERIFY(!MissingDisplayReason({nullptr, nullptr, nullptr, true}));
        QVERIFY(MissingDisplayReason({"", "", "", false}));  // set but empty
    }

    void theProgramEndsWithOneLineWhenThereIsNoDisplay() {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            environment.remove(QString::fromLatin1(name));
        }
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(WAKEBELL_SETUP_PROGRAM), {});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QByteArray error = program.readAllStandardError();
        QCOMPARE(error.count('\n'), 1);
        QVERIFY(error.startsWith("wakebell-setup: no display"));
    }
};

int main(int argc, char** argv) {
    CSetupApp app(argc, argv);
    SetupAppTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "setup_app_test.moc"
