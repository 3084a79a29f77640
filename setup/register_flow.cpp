#include "setup/register_flow.h"

#include <optional>

#include "settings/key_paths.h"
#include "settings/settings_loader.h"
#include "settings/settings_writer.h"
#include "mailcheck/check_mail_content.h"

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
