// Leaving E-Mail on the real form fills the server fields: from the shipped
// table, from a real DNS server (dnsmasq on 127.0.0.1) and from a probe of a
// real TLS server; typed fields are kept, the form stays usable while a
// lookup waits, and a filled form passes the test mail end to end.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "scripted_boxes.h"
#include "settings/registry_store.h"
#include "settings/settings_loader.h"
#include "setup/form_template.h"
#include "setup/register_flow.h"
#include "setup/setup_dlg.h"
#include "tests/discovery/dnsmasq_server.h"
#include "tests/discovery/fake_nameserver.h"
#include "tests/settings/temp_folder.h"
#include "tests/smtp/child_process.h"
#include "tests/smtp/test_certificates.h"
#include "typing.h"

namespace {

using namespace std::chrono_literals;

// A first-start form on its own store, active so that Tab moves the focus.
struct Form {
    explicit Form(AddressLookupOptions lookup, std::optional<SmtpEndpoint> connectTo = {}) {
        SetupDlgServices services;
        services.storeFile = folder.Path() / "registry.db";
        services.logonName = [] { return std::string("tester"); };
        services.messageBoxes = &boxes;
        services.addressLookup = std::move(lookup);
        services.testMail.connectTo = std::move(connectTo);
        dlg = std::make_unique<CSetupDlg>(std::move(services));
        dlg->OnInitDialog();
        dlg->show();
        dlg->activateWindow();
        if (!QTest::qWaitForWindowActive(dlg.get())) {
            qWarning("the form did not become active");
        }
    }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(dlg->Control(id)); }
    QCheckBox* Box(int id) const { return qobject_cast<QCheckBox*>(dlg->Control(id)); }
    QString Line() const { return qobject_cast<QLabel*>(dlg->Control(ID_ADDRESS_LINE))->text(); }

    // Types the address into E-Mail and leaves the field with Tab.
    void EnterAddress(const QString& address) {
        Edit(ID_EMAIL)->setFocus();
        Retype(Edit(ID_EMAIL), address);
        QTest::keyClick(Edit(ID_EMAIL), Qt::Key_Tab);
    }
    // "SMTP-Server:port boxes Account POP-Server:port".
    QString Servers() const {
        const FormFields f = dlg->Fields();
        const QString ticked = f.ssl && f.auth ? "SSL+auth"
                               : f.ssl         ? "SSL"
                               : f.auth        ? "auth"
                                               : "none";
        return QStringLiteral("%1:%2 %3 %4 %5:%6")
            .arg(f.smtpServer, f.smtpPortNo, ticked, f.account, f.popServer, f.popPortNo);
    }

    TempFolder folder;
    ScriptedBoxes boxes;
    std::unique_ptr<CSetupDlg> dlg;
};

// A line as the form shows it.
QString L(const char* text) {
    return QString::fromUtf8(text);
}

}  // namespace

class AddressFillTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestCertificates> m_certificates;
    TempFolder m_mails;
    // Debian's aiosmtpd with a certificate for mail.example.test only.
    std::unique_ptr<ServerProcess> m_server;

  private slots:
    void initTestCase() {
        m_certificates = std::make_unique<TestCertificates>();
        m_server = std::make_unique<ServerProcess>(std::vector<std::string>{
            WAKEBELL_DEBIAN_PYTHON, WAKEBELL_AIOSMTPD_SERVER, "--cert",
            m_certificates->File("other-host.pem"), "--key", m_certificates->File("other-host.key"),
            "--user", "taro@example.test", "--password", "secret", "--auth-required", "--record",
            m_mails.Path().string()});
    }
    void cleanupTestCase() { m_server.reset(); }

    // A table hit asks no DNS: the nameserver never answers, yet the
    // fields fill at once.
    void aTableProviderFillsTheFields_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("servers");
        QTest::addColumn<QString>("line");
        QTest::newRow("whole address, TLS")
            << "taro@gmail.com"
            << "smtp.gmail.com:465 SSL taro@gmail.com pop.gmail.com:995"
            << "E-Mail: GMail の設定を入れました（プロバイダー一覧より）";
        QTest::newRow("OAuth2 only, STARTTLS, domain in capitals")
            << " Taro@Hotmail.COM "
            << "smtp-mail.outlook.com:587 auth Taro@Hotmail.COM outlook.office365.com:995"
            << "E-Mail: Outlookは未対応のWebサインインのみ。パスワードかアプリパスワードが使えるまでテストは失敗します";
        QTest::newRow("local part, plain SMTP")
            << "hanako@bay.wind.ne.jp"
            << "bay.wind.ne.jp:587 none hanako bay.wind.ne.jp:110"
            << "E-Mail: wind の設定を入れました（プロバイダー一覧より）";
        QTest::newRow("local part and domain")
            << "taro@bc.iij4u.or.jp"
            << "mbox.iij4u.or.jp:587 auth taro.bc.iij4u.or.jp mbox.iij4u.or.jp:110"
            << "E-Mail: IIJ4U の設定を入れました（プロバイダー一覧より）";
        QTest::newRow("no POP server: POP fields as they were")
            << "a@126.com"
            << "smtp.126.com:465 SSL a@126.com :995"
            << "E-Mail: 126.com の設定を入れました（プロバイダー一覧より）";
    }
    void aTableProviderFillsTheFields() {
        QFETCH(QString, address);
        QFETCH(QString, servers);
        FakeNameserver silent;
        Form form({.nameserver = silent.Nameserver()});
        form.EnterAddress(address);
        // Filled on leaving the field, before the event loop runs again.
        QCOMPARE(form.Servers(), servers);
        QTEST(form.Line(), "line");
    }

    void typedFieldsAndClickedBoxesAreKeptAndCtrlZUndoesAFill() {
        FakeNameserver silent;
        {
            Form form({.nameserver = silent.Nameserver()});
            Retype(form.Edit(ID_ACCOUNT), QStringLiteral("mine"));
            form.EnterAddress(QStringLiteral("taro@hotmail.com"));
            QTRY_COMPARE(
                form.Servers(),
                QStringLiteral("smtp-mail.outlook.com:587 auth mine outlook.office365.com:995"));
            for (const auto& [id, before] :
                 {std::pair{ID_SMTP_PORT, "465"}, {ID_SMTP_SERVER, ""}}) {
                QTest::keyClick(form.Edit(id), Qt::Key_Z, Qt::ControlModifier);
                QCOMPARE(form.Edit(id)->text(), QString::fromLatin1(before));
            }
        }
        // A click on a box makes the ports and both boxes the user's.
        Form form({.nameserver = silent.Nameserver()});
        form.Box(ID_AUTH)->click();
        Retype(form.Edit(ID_POP_SERVER), QStringLiteral("pop.mine.test"));
        form.EnterAddress(QStringLiteral("taro@gmail.com"));
        QTRY_COMPARE(form.Servers(),
                     QStringLiteral("smtp.gmail.com:587 auth taro@gmail.com pop.mine.test:995"));
    }

    // One real DNS server per row, answering only for its records; a probe
    // on 465 reaches the TLS server above through the port map.
    void dnsRecordsAndProbesFillTheFields_data() {
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("servers");
        QTest::addColumn<QString>("line");
        QTest::newRow("SRV only")
            << QStringList{"srv-host=_submissions._tcp.srvonly.test,mail.srvonly.test,465,0,1"}
            << "taro@srvonly.test"
            << "mail.srvonly.test:465 SSL taro@srvonly.test :995"
            << "E-Mail: ドメインのDNS (SRV) が示す mail.srvonly.test を入れました";
        QTest::newRow("SRV outside the domain")
            << QStringList{"srv-host=_submission._tcp.away.test,smtp.elsewhere.test,587,0,1"}
            << "taro@away.test"
            << "smtp.elsewhere.test:587 auth taro@away.test :995"
            << "E-Mail: smtp.elsewhere.test はドメイン外のサーバーです。パスワードはそこへ送られます";
        QTest::newRow("MX under a table provider")
            << QStringList{"mx-host=mxonly.test,aspmx.l.google.com,10"} << "taro@mxonly.test"
            << "smtp.gmail.com:465 SSL taro@mxonly.test pop.gmail.com:995"
            << "E-Mail: MX aspmx.l.google.com はGMailのサーバーです。GMailの設定を入れました";
        QTest::newRow("probe answered on 465")
            << QStringList{"host-record=mail.example.test,127.0.0.1"} << "taro@example.test"
            << "mail.example.test:465 SSL taro@example.test :995"
            << "E-Mail: mail.example.test のポート465が応答したので入れました";
        QTest::newRow("nothing found")
            << QStringList{} << "taro@nothing.test"
            << ":465 SSL  :995"
            << "E-Mail: サーバーが見つかりません。サーバー欄は手で入力してください";
        QTest::newRow("bad domain")
            << QStringList{} << "taro@exa_mple.test"
            << ":465 SSL  :995"
            << "E-Mail: 「exa_mple.test」はドメイン名に使えない文字を含みます";
    }
    void dnsRecordsAndProbesFillTheFields() {
        QFETCH(QStringList, records);
        QFETCH(QString, address);
        std::vector<std::string> lines;
        for (const QString& record : records) {
            lines.push_back(record.toStdString());
        }
        const DnsmasqServer dns(lines);
        Form form({.nameserver = dns.Nameserver(),
                   .portMap = {{465, m_server->Port("tls")}, {587, m_server->Port("plain")}}});
        form.EnterAddress(address);
        QTRY_VERIFY(!form.dlg->ServerFill().Searching());
        QTEST(form.Line(), "line");
        QTEST(form.Servers(), "servers");
    }

    // The nameserver never answers: typing goes on meanwhile, a new address
    // replaces the lookup at once, the line says when it gave up, and Esc
    // closes the form while a lookup runs.
    void theFormStaysUsableWhileNothingAnswers() {
        FakeNameserver silent;
        Form form({.deadline = 300ms, .nameserver = silent.Nameserver()});
        form.EnterAddress(QStringLiteral("taro@silent.test"));
        QCOMPARE(form.Line(), L("E-Mail: silent.test のサーバーを探しています…"));
        TypeText(form.Edit(ID_TO), QStringLiteral("hanako@example.jp"));
        QCOMPARE(form.Edit(ID_TO)->text(), QStringLiteral("hanako@example.jp"));
        QTRY_COMPARE(
            form.Line(),
            L("E-Mail: 3秒で見つからず探すのをやめました。サーバー欄は手で入力してください"));
        QCOMPARE(form.Servers(), QStringLiteral(":465 SSL  :995"));

        Form replaced({.deadline = 3000ms, .nameserver = silent.Nameserver()});
        replaced.EnterAddress(QStringLiteral("taro@silent.test"));
        QVERIFY(replaced.dlg->ServerFill().Searching());
        replaced.EnterAddress(QStringLiteral("taro@gmail.com"));
        QTRY_COMPARE_WITH_TIMEOUT(replaced.Edit(ID_SMTP_SERVER)->text(),
                                  QStringLiteral("smtp.gmail.com"), 1000);

        Form closing({.deadline = 3000ms, .nameserver = silent.Nameserver()});
        closing.EnterAddress(QStringLiteral("taro@silent.test"));
        QTest::keyClick(closing.Edit(ID_POP_SERVER), Qt::Key_Escape);
        QVERIFY(!closing.dlg->isVisible());
        QVERIFY(!closing.dlg->ServerFill().Searching());
    }

    // The SRV record names the TLS server (the test mail's connection is
    // pointed at its port); the filled form's test mail is delivered and
    // every filled value stored.
    void aFormFilledFromSrvPassesTheTestMail() {
        const DnsmasqServer dns(
            {"srv-host=_submissions._tcp.example.test,mail.example.test,465,0,1"});
        Form form({.nameserver = dns.Nameserver(), .probe = false},
                  SmtpEndpoint{"127.0.0.1", m_server->Port("tls")});
        form.EnterAddress(QStringLiteral("taro@example.test"));
        QTRY_COMPARE(form.Servers(),
                     QStringLiteral("mail.example.test:465 SSL taro@example.test :995"));
        Retype(form.Edit(ID_PASSWORD), QStringLiteral("secret"));
        Retype(form.Edit(ID_TO), QStringLiteral("hanako@example.test"));
        form.boxes.answers << true;
        QTest::mouseClick(qobject_cast<QPushButton*>(form.dlg->Control(ID_REGISTER)),
                          Qt::LeftButton);
        QCOMPARE(form.boxes.shown,
                 (QStringList{QStringLiteral("yes/no: ") + L(kTestQuestion),
                              QStringLiteral("ok: ") + L(kSettingsStoredMessage)}));
        QFile envelope(QString::fromStdString((m_mails.Path() / "1.envelope").string()));
        QVERIFY(envelope.open(QIODevice::ReadOnly));
        QCOMPARE(envelope.readAll(), QByteArray("hanako@example.test\ntaro@example.test\n"));
        const SettingsRecord stored =
            LoadSettingsRecord(RegistryStore(form.folder.Path() / "registry.db"));
        QCOMPARE(
            QString::fromStdString(stored.smtp + ':' + stored.smtpPortNo + ' ' + stored.account),
            QStringLiteral("mail.example.test:465 taro@example.test"));
        QCOMPARE(stored.ssl, 1);
        QCOMPARE(stored.auth, 0);
    }
};

QTEST_MAIN(AddressFillTest)
#include "address_fill_test.moc"
