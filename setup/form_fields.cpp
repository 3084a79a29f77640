// The fields of a first start, of a stored record, and the record the fields make.
#include "setup/form_fields.h"

#include "setup/cp932_text.h"
#include "setup/port_switching.h"

namespace {

// Pairs each form text with the record field it is stored in.
struct TextMapping {
    QString FormFields::*form;
    std::string SettingsRecord::*record;
};

constexpr TextMapping kTextMappings[] = {
    {&FormFields::eMail, &SettingsRecord::szTo},
    {&FormFields::popServer, &SettingsRecord::pop},
    {&FormFields::smtpServer, &SettingsRecord::smtp},
    {&FormFields::account, &SettingsRecord::account},
    {&FormFields::password, &SettingsRecord::password},
    {&FormFields::smtpPortNo, &SettingsRecord::smtpPortNo},
    {&FormFields::popPortNo, &SettingsRecord::popPortNo},
    {&FormFields::to, &SettingsRecord::eMail},
    {&FormFields::userName, &SettingsRecord::user},
    {&FormFields::onSubject, &SettingsRecord::subject},
    {&FormFields::offSubject, &SettingsRecord::subject2},
};

struct StateMapping {
    bool FormFields::*form;
    std::int32_t SettingsRecord::*record;
};

constexpr StateMapping kStateMappings[] = {
    {&FormFields::powerOn, &SettingsRecord::powerOn},
    {&FormFields::powerOff, &SettingsRecord::powerOff},
    {&FormFields::ssl, &SettingsRecord::ssl},
    {&FormFields::auth, &SettingsRecord::auth},
};

}  // namespace

bool ShowsStoredRecord(const SettingsRecord& record) {
    return !record.szTo.empty();
}

FormFields FirstStartFields() {
    FormFields fields;
    const PortSwitch ports = SwitchPorts(PortBox::kSsl, true);
    fields.smtpPortNo = QString::fromLatin1(ports.smtpPortNo);
    fields.popPortNo = QString::fromLatin1(ports.popPortNo);
    fields.ssl = true;
    fields.userName = QString::fromUtf8(kAllLogonNamesText);
    fields.powerOn = true;
    fields.powerOff = true;
    fields.onSubject = QStringLiteral("PowerOn");
    fields.offSubject = QStringLiteral("PowerOff");
    return fields;
}

FormFields FieldsFromRecord(const SettingsRecord& record) {
    FormFields fields;
    for (const TextMapping& text : kTextMappings) {
        fields.*text.form = Cp932ToText(record.*text.record);
    }
    for (const StateMapping& state : kStateMappings) {
        fields.*state.form = record.*state.record != 0;
    }
    return fields;
}

std::optional<SettingsRecord> RecordFromFields(const FormFields& fields) {
    SettingsRecord record;
    for (const TextMapping& text : kTextMappings) {
        std::optional<std::string> bytes = TextToCp932(fields.*text.form);
        if (!bytes) {
            return std::nullopt;
        }
        record.*text.record = std::move(*bytes);
    }
    for (const StateMapping& state : kStateMappings) {
        record.*state.record = fields.*state.form ? 1 : 0;
    }
    return record;
}
