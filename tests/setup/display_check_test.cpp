#include "setup/display_check.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

class DisplayCheckTest : public QObject {
    Q_OBJECT

  private slots:
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

QTEST_APPLESS_MAIN(DisplayCheckTest)
#include "display_check_test.moc"
