#include "setup/setup_dlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <random>

#include "scripted_boxes.h"
#include "settings/registry_store.h"
#include "settings/settings_loader.h"
#include "setup/form_template.h"
#include "stored_settings.h"
#include "typing.h"

char* toString(const FormFields& f) {
    return QTest::toString(QStringList{f.eMail, f.popServer, f.smtpServer, f.account, f.password,
                                       f.smtpPortNo, f.popPortNo, f.to, f.userName, f.onSubject,
                                       f.offSubject,
                                       QStringLiteral("on=%1 off=%2 ssl=%3 auth=%4")
                                           .arg(f.powerOn)
                                           .arg(f.powerOff)
                                           .arg(f.ssl)
                                           .arg(f.auth)}
                               .join(QLatin1Char('|')));
}

namespace {

// Counts how often the register flow would have run.
class RecordingDlg final : public CSetupDlg {
  public:
    using CSetupDlg::CSetupDlg;
    int registerFlows = 0;

  protected:
    void RegisterAndTest() override { ++registerFlows; }
};

// One form with its own empty store folder, scripted boxes and logon name.
struct Harness {
    QTemporaryDir folder;
    ScriptedBoxes boxes;
    std::string logonName = "tester";
    std::unique_ptr<RecordingDlg> dlg;

    std::filesystem::path Store() const {
        return std::filesystem::path(folder.path().toStdString()) / "registry.db";
    }
    RecordingDlg& Open() {
        dlg = std::make_unique<RecordingDlg>(
            SetupDlgServices{Store(), [this] { return logonName; }, &boxes});
        dlg->OnInitDialog();
        return *dlg;
    }
    // Shown and active, so that keys, mnemonics and the focus work.
    RecordingDlg& OpenShown() {
        Open();
        dlg->show();
        dlg->activateWindow();
        if (!QTest::qWaitForWindowActive(dlg.get())) {
            qWarning("the form did not become active");
        }
        return *dlg;
    }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(dlg->Control(id)); }
    QCheckBox* Box(int id) const { return qobject_cast<QCheckBox*>(dlg->Control(id)); }
    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(dlg->Control(id)); }
};

// A click on the box's indicator, where a user clicks.
void ClickBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
}

QByteArray FileBytes(const std::filesystem::path& file) {
    QFile f(QString::fromStdString(file.string()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

FormFields DefaultsShown() {
    FormFields f;
    f.smtpPortNo = QStringLiteral("465");
    f.popPortNo = QStringLiteral("995");
    f.ssl = true;
    f.userName = QStringLiteral("全ﾛｸﾞｵﾝ名で通知する場合このまま");
    f.powerOn = true;
    f.powerOff = true;
    f.onSubject = QStringLiteral("PowerOn");
    f.offSubject = QStringLiteral("PowerOff");
    return f;
}

const QString kNoLogonName = QStringLiteral(
    "ログオン名は設定されていません。\nマルチユーザー環境でのご使用をお勧めいたします");

}  // namespace

class SetupDlgTest : public QObject {
    Q_OBJECT

  private slots:
    void firstStartShowsTheDefaultsAndStoresNothing() {
        Harness h;
        RecordingDlg& dlg = h.Open();
        QCOMPARE(dlg.Fields(), DefaultsShown());
        QVERIFY(h.boxes.shown.isEmpty());  // the logon name is known
        QVERIFY(!std::filesystem::exists(h.Store()));
        QCOMPARE(dlg.focusWidget(), h.Edit(ID_EMAIL));
        QVERIFY(!dlg.windowIcon().isNull());
    }

    void firstStartWithoutALogonNameSaysSoOnce() {
        Harness h;
        h.logonName.clear();
        RecordingDlg& dlg = h.Open();
        QCOMPARE(h.boxes.shown, QStringList{kNoLogonName});
        QCOMPARE(dlg.Fields(), DefaultsShown());  // the name is put into no field
    }

    void storeWithAnEmptySzToOpensWithTheDefaults() {
        Harness h;
        h.logonName.clear();
        SettingsRecord stored;
        stored.smtp = "smtp.example.jp";
        stored.eMail = "to@example.jp";
        stored.smtpPortNo = "587";
        stored.auth = 1;
        QVERIFY(WriteStoredSettings(h.Store(), stored));
        RecordingDlg& dlg = h.Open();
        QCOMPARE(dlg.Fields(), DefaultsShown());
        QCOMPARE(h.boxes.shown, QStringList{kNoLogonName});
    }

    void storedSettingsFillEveryFieldWithTheCrossedOverNames() {
        Harness h;
        h.logonName.clear();  // no message when the store is used
        SettingsRecord stored;
        stored.szTo = "me@example.jp";
        stored.smtp = "smtp.example.jp";
        stored.pop = "pop.example.jp";
        stored.account = "taro";
        stored.password = "pa,ss";   // loading judges nothing
        stored.smtpPortNo = "2525";  // not a preset port
        stored.popPortNo = "1110";
        stored.eMail = "notify@example.jp";
        stored.user = "\x89\xD4\x8E\x71";     // 花子 in CP932
        stored.subject = "\x95\x5C\x8E\xA6";  // 表示: its trail byte is 0x5C
        stored.subject2 = "";                 // empty stays empty, not "PowerOff"
        stored.powerOn = 0;
        stored.powerOff = 1;
        stored.ssl = 0;
        stored.auth = 1;
        QVERIFY(WriteStoredSettings(h.Store(), stored));

        RecordingDlg& dlg = h.Open();
        QVERIFY(h.boxes.shown.isEmpty());
        QCOMPARE(h.Edit(ID_EMAIL)->text(), QStringLiteral("me@example.jp"));
        QCOMPARE(h.Edit(ID_TO)->text(), QStringLiteral("notify@example.jp"));
        QCOMPARE(h.Edit(ID_SMTP_SERVER)->text(), QStringLiteral("smtp.example.jp"));
        QCOMPARE(h.Edit(ID_POP_SERVER)->text(), QStringLiteral("pop.example.jp"));
        QCOMPARE(h.Edit(ID_ACCOUNT)->text(), QStringLiteral("taro"));
        QCOMPARE(h.Edit(ID_PASSWORD)->text(), QStringLiteral("pa,ss"));
        QCOMPARE(h.Edit(ID_SMTP_PORT)->text(), QStringLiteral("2525"));
        QCOMPARE(h.Edit(ID_POP_PORT)->text(), QStringLiteral("1110"));
        QCOMPARE(h.Edit(ID_USER_NAME)->text(), QStringLiteral("花子"));
        QCOMPARE(h.Edit(ID_ON_SUBJECT)->text(), QStringLiteral("表示"));
        QCOMPARE(h.Edit(ID_OFF_SUBJECT)->text(), QString());
        QVERIFY(!h.Box(ID_POWER_ON)->isChecked());
        QVERIFY(h.Box(ID_POWER_OFF)->isChecked());
        QVERIFY(!h.Box(ID_SSL)->isChecked());  // and the ports were not preset
        QVERIFY(h.Box(ID_AUTH)->isChecked());
        QCOMPARE(dlg.Record(), stored);
    }

    void portSwitching_data() {
        QTest::addColumn<bool>("sslBefore");
        QTest::addColumn<bool>("authBefore");
        QTest::addColumn<int>("clicked");
        QTest::addColumn<bool>("sslAfter");
        QTest::addColumn<bool>("authAfter");
        QTest::addColumn<QString>("smtpPort");
        QTest::addColumn<QString>("popPort");
        QTest::newRow("tick SSL clears the other box")
            << false << true << int{ID_SSL} << true << false << "465"
            << "995";
        QTest::newRow("tick SSL alone") << false << false << int{ID_SSL} << true << false << "465"
                                        << "995";
        QTest::newRow("untick SSL") << true << false << int{ID_SSL} << false << false << "25"
                                    << "110";
        QTest::newRow("tick encrypted password clears SSL")
            << true << false << int{ID_AUTH} << false << true << "587"
            << "995";
        QTest::newRow("tick encrypted password alone")
            << false << false << int{ID_AUTH} << false << true << "587"
            << "995";
        QTest::newRow("untick encrypted password")
            << false << true << int{ID_AUTH} << false << false << "25"
            << "110";
    }

    void portSwitching() {
        QFETCH(bool, sslBefore);
        QFETCH(bool, authBefore);
        QFETCH(int, clicked);
        Harness h;
        h.OpenShown();
        h.Box(ID_SSL)->setChecked(sslBefore);
        h.Box(ID_AUTH)->setChecked(authBefore);
        Retype(h.Edit(ID_SMTP_PORT), QStringLiteral("1234"));  // typed by hand, then lost
        Retype(h.Edit(ID_POP_PORT), QStringLiteral("5678"));
        ClickBox(h.Box(clicked));
        QTEST(h.Box(ID_SSL)->isChecked(), "sslAfter");
        QTEST(h.Box(ID_AUTH)->isChecked(), "authAfter");
        QTEST(h.Edit(ID_SMTP_PORT)->text(), "smtpPort");
        QTEST(h.Edit(ID_POP_PORT)->text(), "popPort");
    }

    void anyRunOfClicksLeavesAtMostOneBoxTicked() {
        Harness h;
        h.OpenShown();
        std::mt19937 random(6);
        for (int i = 0; i < 60; ++i) {
            const bool onSsl = (random() & 1U) != 0;
            ClickBox(h.Box(onSsl ? ID_SSL : ID_AUTH));
            const bool ssl = h.Box(ID_SSL)->isChecked();
            const bool auth = h.Box(ID_AUTH)->isChecked();
            QVERIFY(!(ssl && auth));
            const QString expected = ssl ? "465" : auth ? "587" : "25";
            QCOMPARE(h.Edit(ID_SMTP_PORT)->text(), expected);
        }
    }

    void fourteenRulesInOrderOneMessagePerPress() {
        Harness h;
        RecordingDlg& dlg = h.OpenShown();
        // Every rule broken at once; each step mends what the last message
        // named, so the next press must name the next rule.
        Retype(h.Edit(ID_EMAIL), {});
        Retype(h.Edit(ID_SMTP_SERVER), QStringLiteral("smtp,"));
        Retype(h.Edit(ID_POP_SERVER), QStringLiteral("pop,"));
        Retype(h.Edit(ID_ACCOUNT), QStringLiteral("acc,"));
        Retype(h.Edit(ID_PASSWORD), QStringLiteral("pw,"));
        Retype(h.Edit(ID_SMTP_PORT), QStringLiteral("2,5"));
        Retype(h.Edit(ID_POP_PORT), QStringLiteral("1,0"));
        Retype(h.Edit(ID_TO), {});
        struct Step {
            int mend;  // field typed before the press; 0: none
            const char* text;
            const char* message;  // nullptr: every rule passes
        };
        const Step steps[] = {
            {0, "", "E-Mailは省略できません。"},
            {ID_EMAIL, "me,/", "E-Mailに,（カンマ）を入れることはできません。"},
            {ID_EMAIL, "me/", "E-Mailに/（スラッシュ）を入れることはできません。"},
            {ID_EMAIL, "me＠example.jp", "E-Mailアドレスが間違ってます。"},
            {ID_EMAIL, "@", "SMTPサーバーに,（カンマ）を入れることはできません。"},
            {ID_SMTP_SERVER, "smtp", "POP3サーバーに,（カンマ）を入れることはできません。"},
            {ID_POP_SERVER, "pop", "アカウントに,（カンマ）を入れることはできません。"},
            {ID_ACCOUNT, "acc", "パスワードに,（カンマ）を入れることはできません。"},
            {ID_PASSWORD, "p，w", "SMTPサーバーPortNoに,（カンマ）を入れることはできません。"},
            {ID_SMTP_PORT, "", "POP3サーバーPortNoに,（カンマ）を入れることはできません。"},
            {ID_POP_PORT, "abc", "Toは省略できません。"},
            {ID_TO, "to,/", "Toに,（カンマ）を入れることはできません。"},
            {ID_TO, "to/", "Toに/（スラッシュ）を入れることはできません。"},
            {ID_TO, "   ", "Toはアドレスが間違ってます。"},
            {ID_TO, "to@", nullptr},
        };
        int press = 0;
        for (const Step& step : steps) {
            if (step.mend != 0) {
                Retype(h.Edit(step.mend), QString::fromUtf8(step.text));
            }
            const qsizetype before = h.boxes.shown.size();
            // The three ways to press the register button, in turn.
            switch (press++ % 3) {
                case 0: QTest::mouseClick(h.Button(ID_REGISTER), Qt::LeftButton); break;
                case 1: QTest::keyClick(h.Edit(ID_TO), Qt::Key_Return); break;
                default: QTest::keyClick(dlg.windowHandle(), Qt::Key_R, Qt::AltModifier); break;
            }
            // A mnemonic animates the click, so its result comes a little later.
            if (step.message == nullptr) {
                QTRY_COMPARE(dlg.registerFlows, 1);
                QCOMPARE(h.boxes.shown.size(), before);
            } else {
                QTRY_COMPARE(h.boxes.shown.size(), before + 1);
                QCOMPARE(h.boxes.shown.last(), QString::fromUtf8(step.message));
                QCOMPARE(dlg.registerFlows, 0);
            }
            QVERIFY(dlg.isVisible());  // the register button never ends the form
        }
        QVERIFY(!std::filesystem::exists(h.Store()));
    }

    void endingTheFormStoresNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Esc") << "esc";
        QTest::newRow("close box") << "close";
        QTest::newRow("end button") << "button";
        QTest::newRow("Alt+X") << "altx";
    }

    void endingTheFormStoresNothing() {
        QFETCH(QString, how);
        Harness h;
        SettingsRecord stored;
        stored.szTo = "me@example.jp";
        stored.eMail = "to@example.jp";
        QVERIFY(WriteStoredSettings(h.Store(), stored));
        const QByteArray before = FileBytes(h.Store());
        RecordingDlg& dlg = h.OpenShown();
        Retype(h.Edit(ID_EMAIL), QStringLiteral("new@example.jp"));
        ClickBox(h.Box(ID_AUTH));
        if (how == "esc") {
            QTest::keyClick(h.Edit(ID_EMAIL), Qt::Key_Escape);
        } else if (how == "close") {
            QVERIFY(dlg.close());
        } else if (how == "button") {
            QTest::mouseClick(h.Button(ID_END), Qt::LeftButton);
        } else {
            QTest::keyClick(dlg.windowHandle(), Qt::Key_X, Qt::AltModifier);
        }
        QTRY_VERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int{QDialog::Rejected});
        QCOMPARE(dlg.registerFlows, 0);
        QVERIFY(h.boxes.shown.isEmpty());
        QCOMPARE(FileBytes(h.Store()), before);
        QCOMPARE(LoadSettingsRecord(RegistryStore(h.Store())), stored);
    }

    void doModalRunsTheFormUntilItEnds() {
        Harness h;
        RecordingDlg dlg(SetupDlgServices{h.Store(), [] { return std::string(); }, &h.boxes});
        QString portWhileOpen;
        QTimer::singleShot(0, &dlg, [&] {
            portWhileOpen = qobject_cast<QLineEdit*>(dlg.Control(ID_SMTP_PORT))->text();
            QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
        });
        QCOMPARE(dlg.DoModal(), int{QDialog::Rejected});
        QCOMPARE(portWhileOpen, QStringLiteral("465"));  // opened with the defaults
        QCOMPARE(h.boxes.shown, QStringList{kNoLogonName});
        QVERIFY(!std::filesystem::exists(h.Store()));
    }

    void tabOrderIsTheTemplateOrder() {
        Harness h;
        h.OpenShown();
        const QStringList expected = {
            "eMailEdit",     "popServerEdit",  "smtpServerEdit", "accountEdit", "passwordEdit",
            "smtpPortEdit",  "powerOnBox",     "popPortEdit",    "powerOffBox", "toEdit",
            "onSubjectEdit", "offSubjectEdit", "registerButton", "endButton",   "sslBox",
            "authBox",       "eMailEdit"};
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (qsizetype i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
    }

    void hiddenControlsStayHiddenAndKeepTheirText() {
        Harness h;
        SettingsRecord stored;
        stored.szTo = "me@example.jp";
        stored.user = "someone";
        QVERIFY(WriteStoredSettings(h.Store(), stored));
        RecordingDlg& dlg = h.OpenShown();
        ClickBox(h.Box(ID_SSL));
        ClickBox(h.Box(ID_AUTH));
        QTest::mouseClick(h.Button(ID_REGISTER), Qt::LeftButton);
        for (const char* name : {"userNameEdit", "userNameLabel", "userNameHint"}) {
            QWidget* hidden = dlg.findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(hidden != nullptr, name);
            QVERIFY2(!hidden->isVisible(), name);
        }
        QCOMPARE(h.Edit(ID_USER_NAME)->text(), QStringLiteral("someone"));
        QVERIFY(dlg.findChild<QLabel*>("eMailLabel")->isVisible());
    }

    void theWindowIsAFixedDialogWithTheTemplatesCaptionAndButtons() {
        Harness h;
        RecordingDlg& dlg = h.OpenShown();
        QCOMPARE(dlg.windowTitle(), QStringLiteral("WakebellSetup"));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QCOMPARE(dlg.size(), dlg.minimumSize());
        const Qt::WindowFlags flags = dlg.windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(dlg.parentWidget() == nullptr);
        QCOMPARE(h.Edit(ID_PASSWORD)->echoMode(), QLineEdit::Password);
        QVERIFY(h.Button(ID_REGISTER)->isDefault());
        QVERIFY(!h.Button(ID_END)->isDefault());
        QCOMPARE(h.Button(ID_REGISTER)->text(), QStringLiteral("登録(&R)"));
        QCOMPARE(h.Button(ID_END)->text(), QStringLiteral("終了(&X)"));
    }

    void controlsSitWhereTheTemplatePutsThem() {
        // Dialog units scale with the form font: 4 horizontal units are the
        // average letter width, 8 vertical units the font height.
        Harness h;
        RecordingDlg& dlg = h.Open();
        const QFontMetrics metrics(dlg.font());
        const int avg = (metrics.horizontalAdvance(QStringLiteral(
                             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                             26 +
                         1) /
                        2;
        const int height = metrics.height();
        auto px = [](int units, int base, int div) { return (units * base * 2 + div) / (2 * div); };
        QCOMPARE(dlg.width(), px(407, avg, 4));
        QCOMPARE(dlg.height(), px(238, height, 8));
        QCOMPARE(h.Edit(ID_TO)->geometry(),
                 QRect(px(65, avg, 4), px(155, height, 8), px(123, avg, 4), px(12, height, 8)));
        QCOMPARE(h.Button(ID_END)->geometry(),
                 QRect(px(342, avg, 4), px(18, height, 8), px(49, avg, 4), px(14, height, 8)));
    }
};

QTEST_MAIN(SetupDlgTest)
#include "setup_dlg_test.moc"
