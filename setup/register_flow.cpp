// The register button's decisions, and the store writes of its outcomes.
#include "setup/register_flow.h"

#include <optional>
#include <utility>

#include "mailcheck/check_mail_content.h"
#include "settings/key_paths.h"
#include "settings/settings_loader.h"
#include "settings/settings_writer.h"
#include "setup/failure_box.h"
#include "setup/field_validation.h"
#include "setup/mail_check_runner.h"
#include "setup/message_boxes.h"

SettingsKeyChoice SettleSettingsKey(const RegistryStore& store) {
    SettingsKeyChoice choice;
    if (const std::optional<ScrambleKey> stored = ReadScrambleKey(store)) {
        choice.key = *stored;
        choice.path = SettingsKeyPath(choice.key);
    } else {
        choice.path = "Software\\" + NewScrambleKey(choice.key);
    }
    return choice;
}

TestMailArguments TestMailArgumentsFor(const SettingsRecord& record) {
    TestMailArguments arguments;
    arguments.host = record.smtp;
    arguments.portText = record.smtpPortNo;
    arguments.login = record.account;
    arguments.password = record.password;
    arguments.recipient = RecipientAddress(record.szTo);
    arguments.subject = kTestMailSubject;
    arguments.sender = SenderAddress(record.eMail);
    arguments.boundary = kTestMailBoundary;
    arguments.security = SecurityFromMode(kTestMailSecurityMode);
    arguments.body = TestMailBody::TestLines();
    return arguments;
}

bool RecordFailedTest(RegistryStore& store, const SettingsKeyChoice& settings) {
    std::optional<RegistryKey> key = store.CreateKey(settings.path);
    return key && SetDwordValue(*key, kConfigErrName, 1) && key->Close();
}

bool StoreTestedSettings(RegistryStore& store, const SettingsKeyChoice& settings,
                         const SettingsRecord& record) {
    {
        // A key dropped unclosed rolls back, so a failed value leaves the
        // previous settings whole.
        std::optional<RegistryKey> key = store.CreateKey(settings.path);
        if (!key || !SetDwordValue(*key, kConfigErrName, 0) ||
            !SetSettingsValues(*key, record, settings.key) || !key->Close()) {
            return false;
        }
    }
    std::optional<RegistryKey> brand = store.CreateKey(kBrandKeyPath);
    return brand && SetScrambleKeyValues(*brand, settings.key) && brand->Close();
}

bool FieldsPass(const FormFields& fields, MessageBoxes& boxes) {
    const std::optional<RuleFailure> failure = FirstFailingRule(fields);
    if (failure) {
        boxes.Ok(QString::fromUtf8(failure->message));
        return false;
    }
    return true;
}

RegisterFlow::RegisterFlow(RegistryStore& store, MessageBoxes& boxes, MailCheckRunner& mailCheck,
                           std::string implicitTlsPort)
    : m_store(store),
      m_boxes(boxes),
      m_mailCheck(mailCheck),
      m_implicitTlsPort(std::move(implicitTlsPort)) {}

RegisterOutcome RegisterFlow::StoreFailed() {
    m_boxes.Ok(QString::fromUtf8(kStoreFailedMessage) + QLatin1Char('\n') +
               QString::fromStdString(m_store.DatabaseFile().string()));
    return RegisterOutcome::kStoreFailed;
}

RegisterOutcome RegisterFlow::Press(FormFields fields,
                                    const std::function<void(const QString& port)>& writePort) {
    const SettingsKeyChoice settings = SettleSettingsKey(m_store);
    if (!m_boxes.YesNo(QString::fromUtf8(kTestQuestion))) {
        if (!RecordFailedTest(m_store, settings)) {
            return StoreFailed();
        }
        m_boxes.Ok(QString::fromUtf8(kTestDeclinedMessage));
        return RegisterOutcome::kDeclined;
    }
    if (!FieldsPass(fields, m_boxes)) {
        return RegisterOutcome::kInvalid;
    }
    // A second round only when the failure box's offer was taken.
    for (bool mayOffer = true;; mayOffer = false) {
        const std::optional<SettingsRecord> record = RecordFromFields(fields);
        if (!record) {
            m_boxes.Ok(QString::fromUtf8(kUnholdableTextMessage));
            return RegisterOutcome::kUnholdable;
        }
        m_tested = *record;
        const TestMailResult result = m_mailCheck.Run(TestMailArgumentsFor(*record));
        if (result.result == 0) {
            break;
        }
        if (!RecordFailedTest(m_store, settings)) {
            return StoreFailed();
        }
        if (!ShowTestFailure(result, fields, mayOffer)) {
            return RegisterOutcome::kFailed;
        }
        fields.smtpPortNo = QString::fromStdString(m_implicitTlsPort);
        if (writePort) {
            writePort(fields.smtpPortNo);
        }
    }
    // The fields as tested: the form could not be edited meanwhile.
    if (!StoreTestedSettings(m_store, settings, *m_tested)) {
        return StoreFailed();
    }
    m_boxes.Ok(QString::fromUtf8(kSettingsStoredMessage));
    return RegisterOutcome::kStored;
}

bool RegisterFlow::ShowTestFailure(const TestMailResult& result, const FormFields& fields,
                                   bool mayOffer) {
    const FailureAdvice advice = AdviseOnTestFailure(
        result, {fields.smtpServer.toStdString(), fields.smtpPortNo.toStdString()},
        m_implicitTlsPort);
    if (!mayOffer || !advice.offerImplicitTlsPort) {
        m_boxes.Tell(TestFailureBox(result, advice));
        return false;
    }
    return m_boxes.Ask(TestFailureBox(
        result, advice, QString::fromStdString(RetryOnImplicitTlsPortQuestion(m_implicitTlsPort))));
}
