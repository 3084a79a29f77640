// The register button end to end: the real form, a settings store in a
// temporary folder and a real SMTP server on 127.0.0.1 that speaks TLS from
// the first byte and wants AUTH; plus the flow's own decisions with a
// scripted test mail and scripted boxes, and its mapping of the form to the
// test mail's arguments.
#include "setup/register_flow.h"

#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "scripted_boxes.h"
#include "settings/key_paths.h"
#include "settings/registry_store.h"
#include "settings/registry_value.h"
#include "settings/settings_loader.h"
#include "setup/cp932_text.h"
#include "setup/failure_advice.h"
#include "setup/form_template.h"
#include "setup/message_boxes.h"
#include "setup/setup_dlg.h"
#include "setup/mail_check_runner.h"
#include "setup/progress_dialog.h"
#include "tests/settings/temp_folder.h"
#include "tests/smtp/child_process.h"
#include "tests/smtp/counting_random.h"
#include "tests/smtp/script_server.h"
#include "tests/smtp/test_account.h"
#include "tests/smtp/test_certificates.h"
#include "typing.h"

namespace {

// 00:00:00 on 1 January 2027, UTC (the tests run with TZ=UTC).
constexpr std::time_t kNewYear = 1798761600;

QString Ok(const char* text) {
    return QStringLiteral("ok: ") + QString::fromUtf8(text);
}
const QString kAsked = QStringLiteral("yes/no: ") + QString::fromUtf8(kTestQuestion);

// A port on 127.0.0.1 that refuses connections: bound, then closed.
std::uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// Tells `onShow` of every widget shown while it lives.
class ShowWatcher final : public QObject {
  public:
    explicit ShowWatcher(std::function<void(QObject*)> onShow) : m_onShow(std::move(onShow)) {
        qApp->installEventFilter(this);
    }
    ~ShowWatcher() override { qApp->removeEventFilter(this); }
    ShowWatcher(const ShowWatcher&) = delete;
    ShowWatcher& operator=(const ShowWatcher&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            m_onShow(watched);
        }
        return false;
    }

  private:
    std::function<void(QObject*)> m_onShow;
};

QByteArray FileBytes(const std::filesystem::path& file) {
    QFile f(QString::fromStdString(file.string()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Cp932(const QString& text) {
    const std::optional<std::string> bytes = TextToCp932(text);
    return bytes ? QByteArray::fromStdString(*bytes) : QByteArray("(not CP932)");
}

// What the user types on the form for every run that should pass.
FormFields Entered(std::uint16_t smtpPort) {
    FormFields fields;
    fields.eMail = "user@example.test";
    fields.smtpServer = "127.0.0.1";
    fields.popServer = "pop.example.test";
    fields.account = QString::fromUtf8(kTestUser);
    fields.password = QString::fromUtf8(kTestPassword);
    // As typed, blank and trailing letter included: the port is what the
    // digits say.
    fields.smtpPortNo = QStringLiteral(" %1x").arg(smtpPort);
    fields.popPortNo = "110";
    fields.to = "notify@example.test";
    fields.userName = QString::fromUtf8(kAllLogonNamesText);
    fields.onSubject = QStringLiteral("電源オン");
    fields.offSubject = QStringLiteral("電源オフ");
    fields.powerOn = true;
    fields.powerOff = false;
    // The encrypted-password box, which clears SSL: neither changes how the
    // test mail goes (always TLS from the start).
    fields.ssl = false;
    fields.auth = true;
    return fields;
}

// One form on one store, with scripted boxes; test mails are dated 1
// January 2027 and wait at most `waitLimit` for anything.
class Form {
  public:
    explicit Form(const std::filesystem::path& store, std::chrono::milliseconds waitLimit = {},
                  std::uint16_t implicitTlsPort = 0, std::optional<SmtpEndpoint> connectTo = {}) {
        m_report.reset(std::tmpfile());
        SetupDlgServices services;
        services.storeFile = store;
        services.logonName = [] { return std::string("tester"); };
        services.messageBoxes = &boxes;
        services.testMail.clock = [] { return kNewYear; };
        services.testMail.random = CountingRandom;
        services.testMail.waitLimit = waitLimit;
        services.testMail.report = m_report.get();
        services.testMail.connectTo = std::move(connectTo);
        services.addressLookup.enabled = false;  // address_fill_test.cpp tests the lookup
        if (implicitTlsPort != 0) {
            services.implicitTlsPort = std::to_string(implicitTlsPort);
        }
        dlg = std::make_unique<CSetupDlg>(std::move(services));
        dlg->OnInitDialog();
        dlg->show();
    }

    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(dlg->Control(id)); }
    QPushButton* Register() const { return qobject_cast<QPushButton*>(dlg->Control(ID_REGISTER)); }

    void Type(const FormFields& fields) {
        for (const auto& [id, text] : {std::pair{ID_EMAIL, fields.eMail},
                                       {ID_SMTP_SERVER, fields.smtpServer},
                                       {ID_POP_SERVER, fields.popServer},
                                       {ID_ACCOUNT, fields.account},
                                       {ID_PASSWORD, fields.password},
                                       {ID_TO, fields.to},
                                       {ID_ON_SUBJECT, fields.onSubject},
                                       {ID_OFF_SUBJECT, fields.offSubject}}) {
            Retype(Edit(id), text);
        }
        for (const auto& [id, ticked] : {std::pair{ID_POWER_ON, fields.powerOn},
                                         {ID_POWER_OFF, fields.powerOff},
                                         {ID_SSL, fields.ssl},
                                         {ID_AUTH, fields.auth}}) {
            auto* box = qobject_cast<QCheckBox*>(dlg->Control(id));
            if (box->isChecked() != ticked) {
                box->click();  // as a user does, so the ports switch
            }
        }
        // Typed last: the boxes have just preset them.
        Retype(Edit(ID_SMTP_PORT), fields.smtpPortNo);
        Retype(Edit(ID_POP_PORT), fields.popPortNo);
    }

    // Presses the register button. When the progress window shows, the
    // form must be disabled; `during` then runs (on the form's thread) each
    // time the event loop turns while the window is up.
    void Press(bool answer, const std::function<void(TestProgressDialog&)>& during = {}) {
        boxes.answers << answer;
        ShowWatcher shows([this](QObject* shown) {
            if (shown != nullptr && shown == dlg->TestMail().Progress()) {
                sawProgress = true;
                formDisabledMeanwhile = formDisabledMeanwhile && !Register()->isEnabled() &&
                                        !Edit(ID_PASSWORD)->isEnabled();
            }
        });
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [this, &during] {
            TestProgressDialog* progress = dlg->TestMail().Progress();
            if (progress != nullptr && progress->isVisible()) {
                stagesSeen << progress->StageText();
                if (during) {
                    during(*progress);
                }
            }
        });
        watcher.start(1);
        QTest::mouseClick(Register(), Qt::LeftButton);
    }

    // Whether every control takes input again.
    bool Usable() const {
        return Register()->isEnabled() && Edit(ID_EMAIL)->isEnabled() &&
               Edit(ID_PASSWORD)->isEnabled();
    }

    QByteArray Report() const {
        std::fflush(m_report.get());
        std::rewind(m_report.get());
        QByteArray text;
        for (int c = 0; (c = std::fgetc(m_report.get())) != EOF;) {
            text.append(static_cast<char>(c));
        }
        return text;
    }

    ScriptedBoxes boxes;
    std::unique_ptr<CSetupDlg> dlg;
    bool sawProgress = false;
    bool formDisabledMeanwhile = true;
    QSet<QString> stagesSeen;

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> m_report;
};

std::optional<std::uint32_t> ConfigErr(const RegistryStore& store, std::string_view path) {
    const std::optional<RegistryKey> key = store.OpenKey(path);
    if (!key) {
        return std::nullopt;
    }
    const std::optional<RegistryValue> value = key->QueryValue(kConfigErrName);
    if (!value || value->type != REG_DWORD || value->data.size() != 4) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(LowByteOf(value));
}

// The settings key of whichever key the clock made: there are sixty.
std::optional<std::string> OnlySettingsKey(const RegistryStore& store) {
    std::optional<std::string> found;
    for (int second = 0; second < 60; ++second) {
        const std::string path = SettingsKeyPath(ScrambleKeyFromSeconds(second));
        if (store.OpenKey(path)) {
            if (found) {
                return std::nullopt;
            }
            found = path;
        }
    }
    return found;
}

// Settings stored by an earlier, passing test, as a failed one must find
// them afterwards.
SettingsRecord SeedStore(const std::filesystem::path& file) {
    RegistryStore store(file);
    SettingsRecord record;
    record.szTo = "earlier@example.test";
    record.password = "earlier-secret";
    StoreTestedSettings(store, SettleSettingsKey(store), record);
    return LoadSettingsRecord(store);
}

// After TLS and a greeting: EHLO (no AUTH unless `ehlo` offers it), then
// one reply per command, the last a refusal; QUIT ends it.
std::vector<ScriptStep> RefusedAt(const std::string& ehlo, std::vector<std::string> replies) {
    std::vector<ScriptStep> script{StartTls(), Say("220 script.test ESMTP\r\n"),
                                   Hear("EHLO\r\n", ehlo)};
    for (std::string& reply : replies) {
        script.push_back(Hear("command\r\n", std::move(reply)));
    }
    script.push_back(Hear("QUIT\r\n", "221 2.0.0 Bye\r\n"));
    return script;
}

// One row of the failure table: where the test mail goes, and what the
// failure box must then say. The advice's sentences are tested row by row
// without a server (failure_advice_test.cpp); these prove the wiring.
struct FailureCase {
    enum class Server { kScript, kSilent, kPlainSmtp };
    const char* name;
    Server server;
    std::vector<ScriptStep> script;
    std::string certificate;  // the script's, from TestCertificates
    const char* sentence;     // part of the advice (UTF-8)
    const char* details;      // part of the 詳細 section; null: not checked
    bool offer = false;       // the box asks whether to test on the TLS port
    // Typed for 127.0.0.1 and the port, which then shows the providers' certificate.
    const char* host = nullptr;
    const char* portText = nullptr;
};

std::vector<FailureCase> FailureCases() {
    using S = FailureCase::Server;
    const std::string ok = "250 2.0.0 OK\r\n";
    const std::string auth = "250-smtp.test\r\n250 AUTH PLAIN\r\n";
    std::vector<ScriptStep> sendAs = RefusedAt(auth, {"235 2.7.0 OK\r\n", ok, ok, "354 go\r\n"});
    sendAs.insert(sendAs.end() - 1, HearData("554 5.2.252 SendAsDenied; notify@example.test not "
                                             "allowed to send as notify@example.test\r\n"));
    return {
        {"plain SMTP", S::kPlainSmtp, {}, {}, "STARTTLSにも対応していない",
         "with STARTTLS ...]\n220 test.invalid", true},
        {"name mismatch", S::kScript, {StartTls()}, "other-host",
         "「mail.example.test」に発行されています", "mail.example.test"},
        {"cancelled", S::kSilent, {}, {}, kTestCancelledMessage, nullptr},
        {"cancel on retry", S::kScript, {Say("220 plain.test\r\n"), Await(), NextConnection()}, {},
         kTestCancelledMessage, nullptr},
        // A provider's reply at the end of the data, for its host as typed.
        {"SendAsDenied", S::kScript, sendAs, {}, "通常はアカウント自身のアドレス",
         "554 5.2.252 SendAsDenied", false, "smtp.office365.com", "587"},
    };
}

// Answers each test mail with the next of `results` (a failure once they
// run out) and notes what it was asked to send.
struct ScriptedMailCheck final : MailCheckRunner {
    std::vector<TestMailResult> results;
    std::vector<TestMailArguments> sent;
    TestMailResult Run(const TestMailArguments& arguments) override {
        sent.push_back(arguments);
        return sent.size() <= results.size() ? results[sent.size() - 1] : TestMailResult{};
    }
};

TestMailResult Failed(std::int32_t code, TlsReport tls = {}) {
    TestMailResult result;
    result.code = code;
    result.exchange = "220 script.test\r\n";
    result.tls = std::move(tls);
    return result;
}

TestMailResult Sent() {
    TestMailResult result;
    result.result = 0;
    return result;
}

}  // namespace

class RegisterFlowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        setenv("TZ", "UTC", 1);
        tzset();
        m_certificates = std::make_unique<TestCertificates>();  // trusted from here on
        m_server = std::make_unique<ServerProcess>(std::vector<std::string>{
            WAKEBELL_DEBIAN_PYTHON, WAKEBELL_AIOSMTPD_SERVER, "--cert",
            m_certificates->File("server.pem"), "--key", m_certificates->File("server.key"),
            "--user", std::string(kTestUser), "--password", std::string(kTestPassword),
            "--auth-required", "--record", m_mails.Path().string()});
    }
    void cleanupTestCase() { m_server.reset(); }

    void theTestMailArgumentsComeFromTheFieldsAndNotFromTheBoxes() {
        SettingsRecord record;
        record.szTo = "own@example.test";
        record.smtp = "smtp.example.test";
        record.pop = "pop.example.test";
        record.account = "taro";
        record.password = "secret";
        record.smtpPortNo = " 25x";
        record.popPortNo = "995";
        record.eMail = "notify@example.test";
        record.subject = "on";
        const TestMailArguments expected{.host = "smtp.example.test",
                                         .portText = " 25x",
                                         .login = "taro",
                                         .password = "secret",
                                         .recipient = RecipientAddress("own@example.test"),
                                         .sender = SenderAddress("notify@example.test"),
                                         .subject = "test mail",
                                         .boundary = "test",
                                         .security = SECURITY_TLS,
                                         .body = TestMailBody::TestLines()};
        for (const auto& [ssl, auth] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
            record.ssl = ssl;
            record.auth = auth;
            QVERIFY(TestMailArgumentsFor(record) == expected);
        }
    }

    // Yes with good settings: the mail arrives and everything is stored;
    // then a wrong password fails and keeps what was stored.
    void aSentTestMailStoresEverythingAndAFailedOneKeepsIt() {
        TempFolder folder;
        const std::filesystem::path storeFile = folder.Path() / "registry.db";
        const std::uint16_t tls = m_server->Port("tls");
        const FormFields entered = Entered(tls);
        {
            Form form(storeFile);
            form.Type(entered);
            form.Press(true);
            QCOMPARE(form.boxes.shown, (QStringList{kAsked, Ok(kSettingsStoredMessage)}));
            QCOMPARE(form.Report(), QByteArray("Mail was send successfully.\n"));
            QVERIFY(form.sawProgress);
            QVERIFY(form.formDisabledMeanwhile);
            QVERIFY(form.Usable());
        }
        // The mail as the server took it: envelope, header and body.
        const std::filesystem::path mail = LatestMail();
        QCOMPARE(FileBytes(std::filesystem::path(mail).replace_extension(".envelope")),
                 QByteArray("notify@example.test\nuser@example.test\n"));
        const QByteArray data = FileBytes(mail);
        const QByteArray header =
            "Date: Fri, 1 Jan 2027 00:00:00 +0000\r\n"
            "Message-ID: <000102030405060708090a0b0c0d0e0f@example.test>\r\n"
            "From: \"user@example.test\" <notify@example.test>\r\n"
            "X-Mailer: Wakebell x64 Version 3.0\r\n"
            "Reply-To: user@example.test\r\n"
            "X-Priority: 3 (Normal)\r\n"
            "To: <user@example.test>\r\n"
            "Subject: test mail\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"test\"\r\n"
            "\r\n"
            "--test\r\n"
            "Content-type: text/plain; charset=Shift_JIS\r\n"
            "Content-Transfer-Encoding: 8bit\r\n"
            "\r\n";
        QVERIFY2(data.startsWith(header), data.constData());
        const QList<QByteArray> body = data.mid(header.size()).split('\n');
        const QStringList lines = {
            QStringLiteral("Wakebell　テストOKです。"),
            QStringLiteral("このデスクトップアプリは電源の状態が変わったとき指定された"),
            QStringLiteral("メールアドレスにメールを送信するものです。"),
            QStringLiteral(
                "送信するメールの種類はログオン、ログオフ、スリープ、スタンバイの４つです。"),
        };
        // The four lines, the empty one, the close delimiter, and the empty
        // line before the end-of-data dot.
        QCOMPARE(body.size(), 8);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(body[i], Cp932(lines[i]) + "\r");
        }
        QCOMPARE(body[4], QByteArray("\r"));
        QCOMPARE(body[5], QByteArray("--test--\r"));
        QCOMPARE(body[6], QByteArray("\r"));
        QCOMPARE(body[7], QByteArray());

        // Every value scrambled with the key the brand key now holds.
        const RegistryStore store(storeFile);
        const std::optional<ScrambleKey> key = ReadScrambleKey(store);
        QVERIFY(key.has_value());
        const std::string settingsPath = SettingsKeyPath(*key);
        QCOMPARE(ConfigErr(store, settingsPath), std::optional<std::uint32_t>(0));
        {
            const std::optional<RegistryKey> settings = store.OpenKey(settingsPath);
            QVERIFY(settings.has_value());
            const std::optional<RegistryValue> password = settings->QueryValue("Password");
            QVERIFY(password && password->type == REG_SZ);
            QCOMPARE(password->data, ScrambleText(kTestPassword, *key));
            const std::optional<RegistryValue> subject = settings->QueryValue("Subject");
            QVERIFY(subject.has_value());
            QCOMPARE(QByteArray::fromStdString(UnscrambleText(subject->data, *key)),
                     Cp932(QStringLiteral("電源オン")));
        }
        const SettingsRecord stored = LoadSettingsRecord(store);
        QCOMPARE(stored.ssl, 0);
        QCOMPARE(stored.auth, 1);
        QCOMPARE(stored.smtpPortNo, QStringLiteral(" %1x").arg(tls).toStdString());

        // Opening the form again shows what was stored.
        {
            Form reopened(storeFile);
            QVERIFY(reopened.dlg->Fields() == entered);
            QVERIFY(reopened.boxes.shown.isEmpty());
        }

        // A wrong password: the failure message, CONFIG_ERR = 1, values kept.
        {
            Form form(storeFile);
            Retype(form.Edit(ID_PASSWORD), QStringLiteral("not-the-password"));
            Retype(form.Edit(ID_SMTP_SERVER), QStringLiteral("localhost"));
            form.Press(true);
            QCOMPARE(form.boxes.shown, (QStringList{kAsked, Ok(kTestFailedMessage)}));
            QCOMPARE(form.Report(), QByteArray("Error: Bad login or password.\n"));
        }
        QCOMPARE(ConfigErr(store, settingsPath), std::optional<std::uint32_t>(1));
        QVERIFY(LoadSettingsRecord(store) == stored);
        QCOMPARE(ReadScrambleKey(store), key);
    }

    // A port that greets in plain text and wants STARTTLS: the test mail
    // connects again with STARTTLS, and the port is stored as typed.
    void aStartTlsPortPassesAndIsStoredAsTyped() {
        TempFolder folder;
        const FormFields entered = Entered(m_server->Port("starttls"));
        Form form(folder.Path() / "registry.db", std::chrono::milliseconds(5000));
        form.Type(entered);
        form.Press(true);
        QCOMPARE(form.boxes.shown, (QStringList{kAsked, Ok(kSettingsStoredMessage)}));
        QCOMPARE(LoadSettingsRecord(RegistryStore(folder.Path() / "registry.db")).smtpPortNo,
                 entered.smtpPortNo.toStdString());
    }

    // No on a computer where nothing was ever stored: CONFIG_ERR = 1 under
    // a key name made from the clock, and the defaults on the next start.
    void aDeclinedTestRecordsOnlyTheResult() {
        TempFolder folder;
        const std::filesystem::path storeFile = folder.Path() / "registry.db";
        FormFields defaults;
        {
            Form form(storeFile);
            defaults = form.dlg->Fields();
            form.Type(Entered(m_server->Port("tls")));
            form.Press(false);
            QCOMPARE(form.boxes.shown, (QStringList{kAsked, Ok(kTestDeclinedMessage)}));
            QVERIFY(!form.sawProgress);
            QVERIFY(form.Report().isEmpty());
        }
        const RegistryStore store(storeFile);
        QVERIFY(!store.OpenKey(kBrandKeyPath));
        const std::optional<std::string> settingsPath = OnlySettingsKey(store);
        QVERIFY(settingsPath.has_value());
        QCOMPARE(ConfigErr(store, *settingsPath), std::optional<std::uint32_t>(1));
        QVERIFY(!store.OpenKey(*settingsPath)->QueryValue("Password"));
        Form reopened(storeFile);
        QVERIFY(reopened.dlg->Fields() == defaults);
        QVERIFY(reopened.dlg->Record() == SettingsRecord{});
    }

    // A server that is down, one that never answers and Cancel all fail the
    // test; the form is usable again and the next press runs as usual.
    void failedAndCancelledTestsLeaveTheFormUsable_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QByteArray>("report");
        QTest::newRow("down") << "down" << QByteArray("Error: Connection refused by the server.\n");
        QTest::newRow("silent") << "silent" << QByteArray("Error: Server not responding.\n");
        const QByteArray cancelled("Error: Exchange cancelled.\n");
        QTest::newRow("Cancel clicked") << "click" << cancelled;
        QTest::newRow("Cancel by Alt+C") << "alt+c" << cancelled;
        QTest::newRow("Cancel by Esc") << "esc" << cancelled;
        QTest::newRow("close box") << "close" << cancelled;
    }
    void failedAndCancelledTestsLeaveTheFormUsable() {
        QFETCH(QString, server);
        QFETCH(QByteArray, report);
        TempFolder folder;
        const ScriptServer silent({});  // takes the connection, says nothing
        const bool cancel = server != "down" && server != "silent";
        // A short time-out ends the failing rows; the Cancel rows' one is far
        // above what they take, so a Cancel that does nothing fails the row
        // (its report) rather than hanging it.
        Form form(folder.Path() / "registry.db",
                  cancel ? std::chrono::milliseconds(20000) : std::chrono::milliseconds(300));
        form.Type(Entered(server == "down" ? ClosedPort() : silent.Port()));
        const QString securing = QString::fromUtf8(StageMessage(SmtpStage::kSecuring));
        // Before cancelling, the keys a user may press again after the Enter
        // that answered the question: none of them may end the test.
        const Qt::Key keepGoing[] = {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Return, Qt::Key_Space};
        std::size_t keysPressed = 0;
        bool cancelSent = false;
        QElapsedTimer clock;
        clock.start();
        form.Press(true, [&](TestProgressDialog& progress) {
            if (!cancel || cancelSent || progress.StageText() != securing ||
                !progress.isActiveWindow()) {
                return;
            }
            if (keysPressed < std::size(keepGoing)) {
                QTest::keyClick(progress.windowHandle(), keepGoing[keysPressed++]);
            } else if (server == "click") {
                QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
                cancelSent = true;
            } else if (server == "alt+c") {
                QTest::keyClick(progress.windowHandle(), Qt::Key_C, Qt::AltModifier);
                cancelSent = true;
            } else if (server == "esc") {
                QTest::keyClick(progress.windowHandle(), Qt::Key_Escape);
                cancelSent = true;
            } else {
                cancelSent = progress.close();
            }
        });
        QCOMPARE(cancelSent, cancel);  // else something before it ended the test
        QCOMPARE(form.boxes.shown,
                 (QStringList{kAsked, Ok(cancel ? kTestCancelledMessage : kTestFailedMessage)}));
        QVERIFY(form.Usable());
        QVERIFY(form.formDisabledMeanwhile);
        if (cancel) {
            QCOMPARE(keysPressed, std::size(keepGoing));
            QVERIFY(form.stagesSeen.contains(securing));
            QVERIFY(clock.elapsed() < 10000);
        }
        form.Press(false);
        QCOMPARE(form.boxes.shown.mid(2), (QStringList{kAsked, Ok(kTestDeclinedMessage)}));
        // Closing the form waits for a cancelled worker to write its report.
        form.dlg.reset();
        QCOMPARE(form.Report(), report);
        const RegistryStore store(folder.Path() / "registry.db");
        QVERIFY(!store.OpenKey(kBrandKeyPath));
    }

    // A store that cannot be written is said so, whatever the test did; a
    // field holding what Shift_JIS cannot hold stops the flow before the
    // test mail.
    void storeFaultsAndUnholdableTextsAreSaidPlainly_data() {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("unholdable");
        QTest::newRow("declined, store unwritable") << false << false;
        QTest::newRow("sent, store unwritable") << true << false;
        QTest::newRow("unholdable text") << true << true;
    }
    void storeFaultsAndUnholdableTextsAreSaidPlainly() {
        QFETCH(bool, answer);
        QFETCH(bool, unholdable);
        TempFolder folder;
        // A file where the store's folder would have to be.
        QFile blocker(QString::fromStdString((folder.Path() / "blocker").string()));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const std::filesystem::path storeFile =
            unholdable ? folder.Path() / "registry.db" : folder.Path() / "blocker" / "registry.db";
        Form form(storeFile);
        form.Type(Entered(m_server->Port("tls")));
        if (unholdable) {
            // Damaged stored text is shown so; the program can put it there.
            form.Edit(ID_OFF_SUBJECT)->setText(QString(QChar(0xFFFD)));
        }
        const int mailsBefore = MailCount();
        form.Press(answer);
        const QString outcome = unholdable ? Ok(kUnholdableTextMessage)
                                           : Ok(kStoreFailedMessage) + "\n" +
                                                 QString::fromStdString(storeFile.string());
        QCOMPARE(form.boxes.shown, (QStringList{kAsked, outcome}));
        QCOMPARE(MailCount(), mailsBefore + (answer && !unholdable ? 1 : 0));
        QVERIFY(form.Usable());
        QVERIFY(!std::filesystem::exists(storeFile));
    }

    // Each way a test mail fails gets its own sentence below the failure
    // line, the exchange in the details, and a store that keeps the earlier
    // settings with only the failed mark.
    void aFailedTestSaysWhatFailed_data() {
        QTest::addColumn<int>("row");
        int row = 0;
        for (const FailureCase& failure : FailureCases()) {
            QTest::newRow(failure.name) << row++;
        }
    }
    void aFailedTestSaysWhatFailed() {
        QFETCH(int, row);
        const FailureCase failure = FailureCases().at(static_cast<std::size_t>(row));
        using S = FailureCase::Server;
        const bool cancel = failure.sentence == std::string_view(kTestCancelledMessage);
        const std::string certificate = failure.host != nullptr ? "providers" : failure.certificate;
        const ScriptServer script(failure.script,
                                  certificate.empty() ? "" : m_certificates->File(certificate + ".pem"),
                                  certificate.empty() ? "" : m_certificates->File(certificate + ".key"));
        const std::uint16_t port =
            failure.server == S::kPlainSmtp ? m_server->Port("plain") : script.Port();
        TempFolder folder;
        const std::filesystem::path storeFile = folder.Path() / "registry.db";
        const SettingsRecord earlier = SeedStore(storeFile);
        {
            // Short for the silent server; far above what the rest take.
            const bool silent = failure.server == S::kSilent && !cancel;
            const bool named = failure.host != nullptr;
            const std::chrono::milliseconds waitLimit(silent ? 300 : cancel ? 20000 : 5000);
            Form form(storeFile, waitLimit, 0,
                      named ? std::optional(SmtpEndpoint{"127.0.0.1", port}) : std::nullopt);
            FormFields typed = Entered(port);
            if (named) {
                typed.smtpServer = failure.host;
                typed.smtpPortNo = failure.portText;
            }
            form.Type(typed);
            bool cancelSent = false;
            // A script's Cancel waits until the window says that the test connects again.
            form.Press(true, [&](TestProgressDialog& progress) {
                if (cancel && !cancelSent && progress.isActiveWindow() &&
                    (failure.script.empty() || progress.StageText() == kStartTlsRetryMessage)) {
                    QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
                    cancelSent = true;
                }
            });
            QCOMPARE(form.boxes.boxes.size(), 2);
            const ScriptedBoxes::Shown& shown = form.boxes.boxes[1];
            QCOMPARE(shown.question, failure.offer);
            const QString sentence = QString::fromUtf8(failure.sentence);
            if (cancel) {
                QCOMPARE(shown.message.text, sentence);
                QVERIFY(shown.message.more.isEmpty());
            } else {
                QCOMPARE(shown.message.text, QString::fromUtf8(kTestFailedMessage));
                QVERIFY2(shown.message.more.contains(sentence), qPrintable(shown.message.more));
            }
            if (failure.details != nullptr) {
                QVERIFY2(shown.message.details.contains(QString::fromUtf8(failure.details)),
                         qPrintable(shown.message.details));
            }
        }
        const RegistryStore store(storeFile);
        QVERIFY(LoadSettingsRecord(store) == earlier);
        const std::optional<ScrambleKey> key = ReadScrambleKey(store);
        QVERIFY(key.has_value());
        QCOMPARE(ConfigErr(store, SettingsKeyPath(*key)), std::optional<std::uint32_t>(1));
    }

    // A port that speaks plain SMTP: the box offers the TLS port. Yes tests
    // there at once (no second question) and stores on success; No, or a
    // failure there too, leaves only the failed mark.
    void theOfferOfTheTlsPortTestsAgainThere_data() {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("rightPassword");
        QTest::newRow("yes") << true << true;
        QTest::newRow("no") << false << true;
        QTest::newRow("yes, then refused there") << true << false;
    }
    void theOfferOfTheTlsPortTestsAgainThere() {
        QFETCH(bool, answer);
        QFETCH(bool, rightPassword);
        TempFolder folder;
        const std::filesystem::path storeFile = folder.Path() / "registry.db";
        const std::uint16_t tls = m_server->Port("tls");
        const QString tlsText = QString::number(tls);
        const int mailsBefore = MailCount();
        Form form(storeFile, std::chrono::milliseconds(5000), tls);
        FormFields typed = Entered(m_server->Port("plain"));
        if (!rightPassword) {
            typed.password = "not-the-password";
        }
        form.Type(typed);
        form.boxes.answers << true;  // the question; `answer` then takes the offer or not
        form.Press(answer);
        const QString offered = QStringLiteral("yes/no: ") + QString::fromUtf8(kTestFailedMessage);
        QStringList expected{kAsked, offered};
        if (answer) {
            expected << (rightPassword ? Ok(kSettingsStoredMessage) : Ok(kTestFailedMessage));
        }
        QCOMPARE(form.boxes.shown, expected);
        QVERIFY(form.boxes.boxes[1].message.more.endsWith(
            QString::fromStdString(RetryOnImplicitTlsPortQuestion(tlsText.toStdString()))));
        QCOMPARE(form.Edit(ID_SMTP_PORT)->text(), answer ? tlsText : typed.smtpPortNo);
        const bool stored = answer && rightPassword;
        QCOMPARE(MailCount(), mailsBefore + (stored ? 1 : 0));
        const RegistryStore store(storeFile);
        const std::optional<std::string> settingsPath = OnlySettingsKey(store);
        QVERIFY(settingsPath.has_value());
        QCOMPARE(ConfigErr(store, *settingsPath), std::optional<std::uint32_t>(stored ? 0 : 1));
        QCOMPARE(store.OpenKey(kBrandKeyPath).has_value(), stored);
        QCOMPARE(store.OpenKey(*settingsPath)->QueryValue("Password").has_value(), stored);
        if (stored) {
            QCOMPARE(LoadSettingsRecord(store).smtpPortNo, tlsText.toStdString());
        }
    }

    // The flow's decisions without a server or a window: each row scripts
    // the answers and the test mails' results, then checks the outcome, the
    // boxes in order, what was sent, the port written back and the store.
    void theFlowDecidesEachPressFromTheAnswersAndTheResults() {
        const QString failedBox = Ok(kTestFailedMessage);
        const QString offeredBox = QStringLiteral("yes/no: ") + QString::fromUtf8(kTestFailedMessage);
        const TestMailResult plain = Failed(ERR_TLS_PLAIN_SERVER);
        const QString stored = Ok(kSettingsStoredMessage);
        using O = RegisterOutcome;
        // A kInvalid row presses with E-Mail empty, a kStoreFailed row on a
        // store that cannot be written ("store": its message).
        const struct {
            const char* name;
            QList<bool> answers;
            std::vector<TestMailResult> results;
            RegisterOutcome outcome;
            QStringList shown;      // after the question
            QStringList written;    // ports written back
            QStringList sentPorts;  // of the test mails, in order
            std::optional<std::uint32_t> configErr;  // in the only settings key
            const char* storedPort;                  // null: nothing stored
        } rows[] = {
            {"declined", {false}, {}, O::kDeclined, {Ok(kTestDeclinedMessage)}, {}, {}, 1, nullptr},
            {"invalid the second time", {true}, {}, O::kInvalid, {Ok("E-Mailは省略できません。")},
             {}, {}, std::nullopt, nullptr},
            {"failed", {true}, {Failed(ERR_TLS)}, O::kFailed, {failedBox}, {}, {" 587x"}, 1, nullptr},
            {"cancelled", {true}, {Failed(ERR_CANCELLED)}, O::kFailed, {Ok(kTestCancelledMessage)},
             {}, {" 587x"}, 1, nullptr},
            {"offer taken, sent there", {true, true}, {plain, Sent()}, O::kStored,
             {offeredBox, stored}, {"465"}, {" 587x", "465"}, 0, "465"},
            {"offer taken, failed there too", {true, true}, {plain, plain}, O::kFailed,
             {offeredBox, failedBox}, {"465"}, {" 587x", "465"}, 1, nullptr},
            {"offer declined", {true, false}, {plain}, O::kFailed, {offeredBox}, {}, {" 587x"}, 1,
             nullptr},
            {"sent", {true}, {Sent()}, O::kStored, {stored}, {}, {" 587x"}, 0, " 587x"},
            {"sent, store unwritable", {true}, {Sent()}, O::kStoreFailed, {"store"}, {}, {" 587x"},
             std::nullopt, nullptr},
        };
        for (const auto& row : rows) {
            qInfo("row: %s", row.name);
            TempFolder folder;
            QFile blocker(QString::fromStdString((folder.Path() / "blocker").string()));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            const bool writable = row.outcome != O::kStoreFailed;
            const std::filesystem::path storeFile =
                folder.Path() / (writable ? "" : "blocker") / "registry.db";
            RegistryStore store(storeFile);
            ScriptedBoxes boxes;
            boxes.answers = row.answers;
            ScriptedMailCheck mailCheck;
            mailCheck.results = row.results;
            FormFields fields = Entered(587);
            if (row.outcome == O::kInvalid) {
                fields.eMail.clear();
            }
            QStringList written;
            RegisterFlow flow(store, boxes, mailCheck, "465");
            const RegisterOutcome outcome =
                flow.Press(fields, [&written](const QString& port) { written << port; });

            QCOMPARE(outcome, row.outcome);
            QStringList shown{kAsked};
            for (const QString& box : row.shown) {
                shown << (box == "store" ? Ok(kStoreFailedMessage) + "\n" +
                                               QString::fromStdString(storeFile.string())
                                         : box);
            }
            QCOMPARE(boxes.shown, shown);
            QCOMPARE(written, row.written);
            QStringList sentPorts;
            for (TestMailArguments arguments : mailCheck.sent) {
                sentPorts << QString::fromStdString(arguments.portText);
                arguments.portText = " 587x";  // else as the fields say
                QVERIFY(arguments == TestMailArgumentsFor(*RecordFromFields(fields)));
            }
            QCOMPARE(sentPorts, row.sentPorts);
            QCOMPARE(flow.TestedRecord().has_value(), !row.sentPorts.empty());
            const std::optional<std::string> settingsPath = OnlySettingsKey(store);
            QCOMPARE(settingsPath ? ConfigErr(store, *settingsPath) : std::nullopt, row.configErr);
            QCOMPARE(store.OpenKey(kBrandKeyPath).has_value(), row.storedPort != nullptr);
            if (row.storedPort != nullptr) {
                QCOMPARE(LoadSettingsRecord(store).smtpPortNo, std::string(row.storedPort));
            }
        }
    }

    // A failure box is made of the result the runner gave: the advice for
    // it below the failure line, its exchange and TLS report in the details.
    void theFailureBoxShowsTheResultTheRunnerGave() {
        TempFolder folder;
        RegistryStore store(folder.Path() / "registry.db");
        ScriptedBoxes boxes;
        boxes.answers << true;
        ScriptedMailCheck mailCheck;
        TlsCertificate certificate;
        certificate.notAfter = "2020-01-02 00:00:00 UTC";
        const TlsReport expired{TlsProblem::kExpired, "certificate has expired", certificate};
        mailCheck.results = {Failed(ERR_TLS, expired)};
        RegisterFlow flow(store, boxes, mailCheck);
        flow.Press(Entered(465));
        QCOMPARE(boxes.boxes.size(), 2);
        const BoxMessage& box = boxes.boxes[1].message;
        QVERIFY2(box.more.contains(QStringLiteral("有効期限が切れています（2020-01-02")),
                 qPrintable(box.more));
        QCOMPARE(box.details, QStringLiteral("220 script.test\n") +
                                  QString::fromStdString(DescribeTlsReport(expired)));
    }

  private:
    int MailCount() const {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_mails.Path())) {
            count += entry.path().extension() == ".data" ? 1 : 0;
        }
        return count;
    }

    // The mail the server recorded last.
    std::filesystem::path LatestMail() const {
        std::filesystem::path latest;
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_mails.Path())) {
            if (entry.path().extension() == ".data") {
                const int number = std::stoi(entry.path().stem().string());
                if (number > highest) {
                    highest = number;
                    latest = entry.path();
                }
            }
        }
        return latest;
    }

    TempFolder m_mails;
    std::unique_ptr<TestCertificates> m_certificates;
    std::unique_ptr<ServerProcess> m_server;
};

QTEST_MAIN(RegisterFlowTest)
#include "register_flow_test.moc"
