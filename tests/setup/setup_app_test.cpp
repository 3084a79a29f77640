#include "setup/setup_app.h"

#include <stdlib.h>

#include <QDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <filesystem>

// The application object runs with the system's own parts: the store under
// $XDG_CONFIG_HOME (pointed at an empty folder here) and the real boxes.
class SetupAppTest : public QObject {
    Q_OBJECT

  private slots:
    void initInstanceRunsTheFormUntilItEndsAndReturnsFalse() {
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
            smtpPort = modal->findChild<QWidget*>(QStringLiteral("smtpPortEdit"))
                           ->property("text")
                           .toString();
            QTest::keyClick(modal, Qt::Key_Escape);
        };
        QTimer::singleShot(0, endForm);

        auto* app = static_cast<CSetupApp*>(QCoreApplication::instance());
        QVERIFY(!app->InitInstance());
        QCOMPARE(caption, QStringLiteral("WakebellSetup"));
        QCOMPARE(smtpPort, QStringLiteral("465"));  // the empty store gave the defaults
        QVERIFY(std::filesystem::is_empty(config.path().toStdString()));  // nothing stored
        QVERIFY(QApplication::topLevelWidgets().isEmpty());               // the form is gone
    }

    void theApplicationCarriesTheIconAndItsDesktopEntryName() {
        QVERIFY(!QApplication::windowIcon().isNull());
        QVERIFY(QApplication::windowIcon().availableSizes().contains(QSize(256, 256)));
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("wakebell-setup"));
    }
};

int main(int argc, char** argv) {
    CSetupApp app(argc, argv);
    SetupAppTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "setup_app_test.moc"
