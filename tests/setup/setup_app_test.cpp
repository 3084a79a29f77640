// The program with the system's own parts: the application object, the real
// message boxes, the store under $XDG_CONFIG_HOME, and how it starts without
// a display.
#include "setup/setup_app.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "setup/display_check.h"
#include "setup/message_boxes.h"

namespace {

// Once the next box is up, lets `check` see it, then presses `press` (Esc when NoButton).
void AnswerNextBox(QMessageBox::StandardButton press, std::function<void(QMessageBox*)> check) {
    QTimer::singleShot(0, [press, check] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        check(box);
        if (press == QMessageBox::NoButton) {
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            box->button(press)->click();
        }
    });
}

}  // namespace

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

    void boxesCarryTheProgramNameAndTheFormsFontAndAnswerYesOnlyForYes() {
        QWidget owner;
        owner.setFont(QFont(QStringLiteral("IPAPGothic"), 13));
        FormMessageBoxes boxes(&owner);
        AnswerNextBox(QMessageBox::Ok, [&owner](QMessageBox* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("setup_setup_app_test"));
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(box->parentWidget(), &owner);
            QCOMPARE(box->font(), owner.font());
        });
        boxes.Ok(QStringLiteral("E-Mailは省略できません。"));
        const auto question = [](QMessageBox* box) {
            QCOMPARE(box->icon(), QMessageBox::Question);
            QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        };
        for (const auto press : {QMessageBox::Yes, QMessageBox::No, QMessageBox::NoButton}) {
            AnswerNextBox(press, question);
            QCOMPARE(boxes.YesNo(QStringLiteral("よろしいですか？")), press == QMessageBox::Yes);
        }
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
