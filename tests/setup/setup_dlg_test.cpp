// The setup form driven as a user drives it, with the field rules, the
// record mapping and the port switching it is built from.
#include "setup/setup_dlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>

#include "settings/key_paths.h"
#include "settings/registry_store.h"
#include "settings/registry_value.h"
#include "settings/settings_loader.h"
#include "settings/settings_writer.h"
#include "setup/dialog_units.h"
#include "setup/form_template.h"
#include "setup/message_boxes.h"
#include "setup/register_flow.h"
#include "typing.h"

namespace {

// One form with its own store folder and logon name; its message boxes
// only note what they show and answer No, so a press that reaches the
// register flow ends at its question (counted) with the test declined.
struct Harness final : MessageBoxes {
    QTemporaryDir folder;
    QStringList shown;
    int questions = 0;
    std::string logonName = "tester";
    std::unique_ptr<CSetupDlg> dlg;

    void Tell(const BoxMessage& message) override { shown << message.text; }
    bool Ask(const BoxMessage& message) override {
        shown << message.text;
        ++questions;
        return false;
    }

    std::filesystem::path Store() const {
        return std::filesystem::path(folder.path().toStdString()) / "registry.db";
    }
    // Stores `record` as the register flow leaves it: settings key, then brand key.
    bool StoreRecord(const SettingsRecord& record, const ScrambleKey& key = {2, 3, 4, 3}) const {
        RegistryStore store(Store());
        std::optional<RegistryKey> settings = store.CreateKey(SettingsKeyPath(key));
        if (!settings || !SetSettingsValues(*settings, record, key) || !settings->Close()) {
            return false;
        }
        std::optional<RegistryKey> brand = store.CreateKey(kBrandKeyPath);
        return brand && SetScrambleKeyValues(*brand, key) && brand->Close();
    }
    // Opened, shown and active, so that keys, mnemonics and the focus work.
    CSetupDlg& Open() {
        SetupDlgServices services{Store(), [this] { return logonName; }, this};
        services.addressLookup.enabled = false;  // address_fill_test.cpp tests the lookup
        dlg = std::make_unique<CSetupDlg>(std::move(services));
        dlg->OnInitDialog();
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

const QString kNoLogonName = QStringLiteral(
    "ログオン名は設定されていません。\nマルチユーザー環境でのご使用をお勧めいたします");

}  // namespace

class SetupDlgTest : public QObject {
    Q_OBJECT

  private slots:
    void firstStartShowsTheDefaults_data() {
        QTest::addColumn<QString>("logonName");
        QTest::addColumn<bool>("storeWithEmptySzTo");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("logon name known") << "tester" << false << QStringList{};
        QTest::newRow("no logon name") << "" << false << QStringList{kNoLogonName};
        QTest::newRow("store without SzTo") << "" << true << QStringList{kNoLogonName};
    }

    void firstStartShowsTheDefaults() {
        QFETCH(QString, logonName);
        QFETCH(bool, storeWithEmptySzTo);
        Harness h;
        h.logonName = logonName.toStdString();
        SettingsRecord stored;
        stored.eMail = "to@example.jp";
        stored.auth = 1;
        QVERIFY(!storeWithEmptySzTo || h.StoreRecord(stored));
        CSetupDlg& dlg = h.Open();
        FormFields defaults;
        defaults.ssl = defaults.powerOn = defaults.powerOff = true;
        defaults.smtpPortNo = "465";
        defaults.popPortNo = "995";
        defaults.userName = "全ﾛｸﾞｵﾝ名で通知する場合このまま";
        defaults.onSubject = "PowerOn";
        defaults.offSubject = "PowerOff";
        QVERIFY(dlg.Fields() == defaults);  // the logon name goes into no field
        QTEST(h.shown, "messages");
        QCOMPARE(std::filesystem::exists(h.Store()), storeWithEmptySzTo);
        QCOMPARE(dlg.focusWidget(), h.Edit(ID_EMAIL));
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
        stored.powerOff = 2;                  // any non-zero state ticks the box
        stored.auth = 1;
        QVERIFY(h.StoreRecord(stored));

        CSetupDlg& dlg = h.Open();
        QVERIFY(h.shown.isEmpty());
        QStringList texts;
        for (int id : {ID_EMAIL, ID_TO, ID_SMTP_SERVER, ID_POP_SERVER, ID_ACCOUNT, ID_PASSWORD,
                       ID_SMTP_PORT, ID_POP_PORT, ID_USER_NAME, ID_ON_SUBJECT, ID_OFF_SUBJECT}) {
            texts << h.Edit(id)->text();
        }
        QCOMPARE(texts.join('|'), QStringLiteral("me@example.jp|notify@example.jp|smtp.example.jp|"
                                                 "pop.example.jp|taro|pa,ss|2525|1110|花子|表示|"));
        QCOMPARE((QList<bool>{h.Box(ID_POWER_ON)->isChecked(), h.Box(ID_POWER_OFF)->isChecked(),
                              h.Box(ID_SSL)->isChecked(), h.Box(ID_AUTH)->isChecked()}),
                 (QList<bool>{false, true, false, true}));  // and the ports were not preset
        QCOMPARE(dlg.Record(), stored);

        // The fields make the same record again, the box stored back as 1,
        // and none at all once a text holds what CP932 cannot.
        SettingsRecord expected = stored;
        expected.powerOff = 1;
        FormFields fields = dlg.Fields();
        QCOMPARE(RecordFromFields(fields), std::optional<SettingsRecord>(expected));
        fields.password = QStringLiteral("pa¥s");
        QVERIFY(!RecordFromFields(fields).has_value());

        // The hidden controls stay hidden, whatever is clicked or pressed.
        ClickBox(h.Box(ID_SSL));
        ClickBox(h.Box(ID_AUTH));
        QTest::mouseClick(h.Button(ID_REGISTER), Qt::LeftButton);
        for (const char* name : {"userNameEdit", "userNameLabel", "userNameHint"}) {
            QWidget* hidden = dlg.findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(hidden != nullptr && !hidden->isVisible(), name);
        }
        QVERIFY(dlg.findChild<QLabel*>("eMailLabel")->isVisible());
        QCOMPARE(h.Edit(ID_USER_NAME)->text(), QStringLiteral("花子"));
        QCOMPARE(h.Edit(ID_PASSWORD)->echoMode(), QLineEdit::Password);
    }

    // What an input method gives for a Shift_JIS character goes into the
    // store as that character's bytes and comes back in CP932's form.
    void jisFormsAreStoredAsTheirShiftJisBytes() {
        Harness h;
        CSetupDlg& dlg = h.Open();
        Retype(h.Edit(ID_EMAIL), QStringLiteral("me@example.jp"));  // so that it loads back
        Retype(h.Edit(ID_ON_SUBJECT), QStringLiteral("9時〜18時"));
        QCOMPARE(h.Edit(ID_ON_SUBJECT)->text(), QStringLiteral("9時～18時"));
        const std::optional<SettingsRecord> record = RecordFromFields(dlg.Fields());
        QVERIFY(record.has_value());
        {
            RegistryStore store(h.Store());
            QVERIFY(StoreTestedSettings(store, SettleSettingsKey(store), *record));
        }
        const RegistryStore store(h.Store());
        const std::optional<ScrambleKey> key = ReadScrambleKey(store);
        QVERIFY(key.has_value());
        const std::optional<RegistryValue> subject =
            store.OpenKey(SettingsKeyPath(*key))->QueryValue("Subject");
        QVERIFY(subject.has_value());
        QCOMPARE(QByteArray::fromStdString(UnscrambleText(subject->data, *key)),
                 QByteArray("9\x8E\x9E\x81\x60") + "18\x8E\x9E");
        h.Open();
        QCOMPARE(h.Edit(ID_ON_SUBJECT)->text(), QStringLiteral("9時～18時"));
    }

    void portSwitchingOverwritesTypedPortsAndTicksAtMostOneBox() {
        Harness h;
        h.Open();
        const struct {
            bool sslBefore, authBefore;
            int clicked;
            const char* after;
        } cases[] = {
            {false, true, ID_SSL, "SSL 465/995"},    {false, false, ID_SSL, "SSL 465/995"},
            {true, false, ID_SSL, "none 25/110"},    {true, false, ID_AUTH, "auth 587/995"},
            {false, false, ID_AUTH, "auth 587/995"}, {false, true, ID_AUTH, "none 25/110"},
        };
        for (const auto& c : cases) {
            h.Box(ID_SSL)->setChecked(c.sslBefore);
            h.Box(ID_AUTH)->setChecked(c.authBefore);
            Retype(h.Edit(ID_SMTP_PORT), QStringLiteral("1234"));  // typed by hand, then lost
            Retype(h.Edit(ID_POP_PORT), QStringLiteral("5678"));
            ClickBox(h.Box(c.clicked));
            const FormFields f = h.dlg->Fields();
            const QString boxes = f.ssl && f.auth ? "SSL+auth"
                                  : f.ssl         ? "SSL"
                                  : f.auth        ? "auth"
                                                  : "none";
            QCOMPARE(boxes + ' ' + f.smtpPortNo + '/' + f.popPortNo, QString(c.after));
        }
    }

    void fourteenRulesInOrderOneMessagePerPress() {
        Harness h;
        CSetupDlg& dlg = h.Open();
        // Every rule broken at once; each step mends what the last message
        // named, so the next press must name the next rule. The mends hold
        // what no rule judges: full-width ，／＠, a lone "@", "/" outside
        // E-Mail and To, ports that are empty or not numbers.
        Retype(h.Edit(ID_EMAIL), {});
        Retype(h.Edit(ID_SMTP_SERVER), QStringLiteral("smtp,"));
        Retype(h.Edit(ID_POP_SERVER), QStringLiteral("pop,"));
        Retype(h.Edit(ID_ACCOUNT), QStringLiteral("acc,"));
        Retype(h.Edit(ID_PASSWORD), QStringLiteral("pw,"));
        Retype(h.Edit(ID_SMTP_PORT), QStringLiteral("2,5"));
        Retype(h.Edit(ID_POP_PORT), QStringLiteral("1,0"));
        Retype(h.Edit(ID_TO), {});
        Retype(h.Edit(ID_ON_SUBJECT), QStringLiteral("on,/"));  // subjects are not judged
        h.Edit(ID_USER_NAME)->setText(QStringLiteral("a,b/"));  // nor the hidden name
        struct Step {
            int mend;  // field typed before the press; 0: none
            const char* text;
            const char* message;  // nullptr: every rule passes
        };
        const Step steps[] = {
            {0, "", "E-Mailは省略できません。"},
            {ID_EMAIL, "me,/", "E-Mailに,（カンマ）を入れることはできません。"},
            {ID_EMAIL, "me/", "E-Mailに/（スラッシュ）を入れることはできません。"},
            {ID_EMAIL, "   ", "E-Mailアドレスが間違ってます。"},  // spaces are not empty
            {ID_EMAIL, "／@", "SMTPサーバーに,（カンマ）を入れることはできません。"},
            {ID_SMTP_SERVER, "a/b", "POP3サーバーに,（カンマ）を入れることはできません。"},
            {ID_POP_SERVER, "", "アカウントに,（カンマ）を入れることはできません。"},
            {ID_ACCOUNT, "acc", "パスワードに,（カンマ）を入れることはできません。"},
            {ID_PASSWORD, "p，w", "SMTPサーバーPortNoに,（カンマ）を入れることはできません。"},
            {ID_SMTP_PORT, "", "POP3サーバーPortNoに,（カンマ）を入れることはできません。"},
            {ID_POP_PORT, "abc", "Toは省略できません。"},
            {ID_TO, "to,/", "Toに,（カンマ）を入れることはできません。"},
            {ID_TO, "to/", "Toに/（スラッシュ）を入れることはできません。"},
            {ID_TO, "to＠example.jp", "Toはアドレスが間違ってます。"},
            {ID_TO, "to@", nullptr},
        };
        int press = 0;
        for (const Step& step : steps) {
            if (step.mend != 0) {
                Retype(h.Edit(step.mend), QString::fromUtf8(step.text));
            }
            const qsizetype before = h.shown.size();
            // The three ways to press the register button, in turn.
            switch (press++ % 3) {
                case 0: QTest::mouseClick(h.Button(ID_REGISTER), Qt::LeftButton); break;
                case 1: QTest::keyClick(h.Edit(ID_TO), Qt::Key_Return); break;
                default: QTest::keyClick(dlg.windowHandle(), Qt::Key_R, Qt::AltModifier); break;
            }
            // A mnemonic animates the click, so its result comes a little later.
            if (step.message == nullptr) {
                QTRY_COMPARE(h.questions, 1);
                QCOMPARE(h.shown.mid(before), (QStringList{QString::fromUtf8(kTestQuestion),
                                                           QString::fromUtf8(kTestDeclinedMessage)}));
            } else {
                QTRY_COMPARE(h.shown.size(), before + 1);
                QCOMPARE(h.shown.last(), QString::fromUtf8(step.message));
                QCOMPARE(h.questions, 0);
                QVERIFY(!std::filesystem::exists(h.Store()));
            }
            QVERIFY(dlg.isVisible());  // the register button never ends the form
        }
    }

    void endingTheFormStoresNothing() {
        const std::function<void(Harness&)> ends[] = {
            [](Harness& h) { QTest::keyClick(h.Edit(ID_EMAIL), Qt::Key_Escape); },
            [](Harness& h) { QVERIFY(h.dlg->close()); },  // the close box
            [](Harness& h) { QTest::mouseClick(h.Button(ID_END), Qt::LeftButton); },
            [](Harness& h) { QTest::keyClick(h.dlg->windowHandle(), Qt::Key_X, Qt::AltModifier); }};
        for (const auto& end : ends) {
            Harness h;
            SettingsRecord stored;
            stored.szTo = "me@example.jp";
            stored.eMail = "to@example.jp";
            QVERIFY(h.StoreRecord(stored));
            const QByteArray before = FileBytes(h.Store());
            CSetupDlg& dlg = h.Open();
            Retype(h.Edit(ID_EMAIL), QStringLiteral("new@example.jp"));
            ClickBox(h.Box(ID_AUTH));
            end(h);
            QTRY_VERIFY(!dlg.isVisible());
            QCOMPARE(dlg.result(), int{QDialog::Rejected});
            QCOMPARE(h.questions, 0);
            QVERIFY(h.shown.isEmpty());
            QCOMPARE(FileBytes(h.Store()), before);
        }
    }

    void tabOrderIsTheTemplateOrder() {
        Harness h;
        h.Open();
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

    void dialogUnitsBecomePixelsRoundedHalfUp() {
        // 52 letters: 337 px average 6.48 and 338 px 6.5.
        QCOMPARE(BaseUnitsFromMetrics(337, 13).x, 6);
        QCOMPARE(BaseUnitsFromMetrics(338, 13).x, 7);
        // The To field at 6 px per 4 and 13 px per 8 units: 97.5, 251.875, 184.5, 19.5.
        QCOMPARE(DialogUnitsToPixels(QRect(65, 155, 123, 12), {6, 13}), QRect(98, 252, 185, 20));
    }
};

QTEST_MAIN(SetupDlgTest)
#include "setup_dlg_test.moc"
