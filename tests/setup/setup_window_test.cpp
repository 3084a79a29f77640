// The form as a real window on an X server (run under xvfb-run): where the
// controls land, and whether the font the form resolves to can draw them.
#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QRawFont>
#include <QTemporaryDir>
#include <QtTest>

#include "setup/address_fill_texts.h"
#include "setup/cp932_validator.h"
#include "setup/field_validation.h"
#include "setup/form_template.h"
#include "setup/message_boxes.h"
#include "setup/setup_dlg.h"
#include "setup/progress_dialog.h"

namespace {

// Every line under the fields, with long names from the provider table.
QStringList AddressLines() {
    ServerCandidate candidate;
    candidate.providerName = "Freenet Mail";
    candidate.smtpHost = "mail.example-provider.co.jp";
    candidate.foundVia = "mx01.example-provider.co.jp";
    candidate.smtpPort = 465;
    QStringList lines{SearchingLine("example-provider.co.jp"),
                      OutcomeLine(DiscoveryOutcome::kNothingFound, {}),
                      OutcomeLine(DiscoveryOutcome::kTimedOut, {}),
                      OutcomeLine(DiscoveryOutcome::kBadAddress, "example_provider.co.jp")};
    for (const DiscoverySource source : {DiscoverySource::kProviderTable, DiscoverySource::kSrv,
                                         DiscoverySource::kMx, DiscoverySource::kProbe}) {
        candidate.source = source;
        lines << CandidateLine(candidate);
    }
    candidate.outsideDomain = true;
    lines << CandidateLine(candidate);
    candidate.providerName = "Outlook";
    candidate.oauthOnly = true;
    lines << CandidateLine(candidate);
    return lines;
}

// Every text the form can show: captions, hints, the hidden ones too, every
// message and every button.
QStringList FormTexts() {
    QStringList texts{QString::fromUtf8(kFormCaption), QString::fromUtf8(kNoLogonNameMessage),
                      QString::fromUtf8(kAllLogonNamesText)};
    // The buttons of the boxes and the progress window, and the fields' hint.
    for (const char* text : {kYesButtonText, kNoButtonText, kOkButtonText, kShowDetailsButtonText,
                             kHideDetailsButtonText, kProgressCancelText, kRefusedCharacterHint}) {
        texts << QString::fromUtf8(text);
    }
    for (const ControlTemplate& control : FormControls()) {
        texts << QString::fromUtf8(control.text);
    }
    // One set of fields per rule, each breaking only that rule.
    const std::pair<QString FormFields::*, const char*> breaks[] = {
        {&FormFields::eMail, ""},       {&FormFields::eMail, "a,"},
        {&FormFields::eMail, "a/"},     {&FormFields::eMail, "a"},
        {&FormFields::smtpServer, ","}, {&FormFields::popServer, ","},
        {&FormFields::account, ","},    {&FormFields::password, ","},
        {&FormFields::smtpPortNo, ","}, {&FormFields::popPortNo, ","},
        {&FormFields::to, ""},          {&FormFields::to, "t,"},
        {&FormFields::to, "t/"},        {&FormFields::to, "t"}};
    int rule = 0;
    for (const auto& [field, text] : breaks) {
        FormFields fields;
        fields.eMail = fields.to = QStringLiteral("a@b");
        fields.*field = QString::fromUtf8(text);
        if (const std::optional<RuleFailure> failure = FirstFailingRule(fields);
            failure && failure->rule == ++rule) {
            texts << QString::fromUtf8(failure->message);
        }
    }
    return texts + AddressLines();
}

}  // namespace

class SetupWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_folder;
    std::unique_ptr<CSetupDlg> m_dlg;

  private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_dlg = std::make_unique<CSetupDlg>(
            SetupDlgServices{std::filesystem::path(m_folder.path().toStdString()) / "registry.db",
                             [] { return std::string("tester"); }});
        m_dlg->OnInitDialog();
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }

    void everyControlIsInsideTheClientAreaWithItsCaptionUnclipped() {
        const QRect client = m_dlg->rect();
        QCOMPARE(m_dlg->windowHandle()->geometry().size(), client.size());
        QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());  // not resizable
        int shown = 0;
        for (QWidget* child : m_dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isVisible()) {
                continue;
            }
            ++shown;
            QVERIFY2(client.contains(child->geometry()), qPrintable(child->objectName()));
            // A push button's size hint has a minimum width: its text is what must fit.
            int needed = 0;
            if (auto* label = qobject_cast<QLabel*>(child)) {
                needed = child->fontMetrics().horizontalAdvance(label->text());
            } else if (auto* button = qobject_cast<QPushButton*>(child)) {
                needed = child->fontMetrics().horizontalAdvance(button->text().remove('&'));
            } else if (qobject_cast<QAbstractButton*>(child) != nullptr) {
                needed = child->sizeHint().width();
            }
            QVERIFY2(needed <= child->width(), qPrintable(child->objectName()));
        }
        QCOMPARE(shown, 36);  // 39 controls less the three hidden ones
    }

    void everyAddressLineFitsOnItsOneLine() {
        const auto* line = qobject_cast<QLabel*>(m_dlg->Control(ID_ADDRESS_LINE));
        QVERIFY(line != nullptr && line->isVisible());
        for (const QString& text : AddressLines()) {
            QVERIFY2(line->fontMetrics().horizontalAdvance(text) <= line->width(),
                     qPrintable(text));
        }
    }

    void theFormFontHasAGlyphForEveryCharacter() {
        const QRawFont raw = QRawFont::fromFont(m_dlg->font());
        QVERIFY(raw.isValid());
        QStringList missing;
        for (const QString& text : FormTexts()) {
            for (char32_t c : text.toUcs4()) {
                if (c >= 0x20 && !raw.supportsCharacter(c)) {
                    missing << QString::fromUcs4(&c, 1);
                }
            }
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(' '))));
        QCOMPARE(FormTexts().size(), 3 + 7 + 39 + 14 + 10);
    }
};

QTEST_MAIN(SetupWindowTest)
#include "setup_window_test.moc"
