// The form's fields as texts and check states, apart from the widgets: what
// a first start shows, what a stored record shows, and the record the fields
// make when they are stored.
#pragma once

#include <QString>
#include <optional>

#include "settings/settings_record.h"

struct FormFields {
    QString eMail;          // 1000: the user's own address (stored as "SzTo")
    QString popServer;      // 1002
    QString smtpServer;     // 1001
    QString account;        // 1003
    QString password;       // 1004
    QString smtpPortNo;     // 1009
    QString popPortNo;      // 1010
    QString to;             // 1012: the address notified (stored as "E-Mail")
    QString userName;       // 1013, hidden: the logon name for which no mail is sent
    QString onSubject;      // 1015
    QString offSubject;     // 1016
    bool powerOn = false;   // 1005
    bool powerOff = false;  // 1006
    bool ssl = false;       // 1027
    bool auth = false;      // 1028

    friend bool operator==(const FormFields&, const FormFields&) = default;
};

// The hidden User Name field's text until a stored value replaces it.
inline constexpr const char* kAllLogonNamesText = "全ﾛｸﾞｵﾝ名で通知する場合このまま";

// Shown once on a first start when the user's logon name is empty.
inline constexpr const char* kNoLogonNameMessage =
    "ログオン名は設定されていません。\nマルチユーザー環境でのご使用をお勧めいたします";

// Whether opening the form shows `record` (its "SzTo" is not empty) rather
// than the first-start defaults.
bool ShowsStoredRecord(const SettingsRecord& record);

// The first-start defaults: SSL ticked with ports 465 and 995, PowerOn and
// PowerOff ticked, the two subjects "PowerOn" and "PowerOff", the User Name
// text above; every other text empty and the encrypted-password box clear.
FormFields FirstStartFields();

// Every field from the record, the texts decoded from CP932 (see
// cp932_text.h), with the crossed-over names: E-Mail from "SzTo" and To from
// "E-Mail". Any stored state but 0 ticks its box, as a two-state check box
// set to that number would.
FormFields FieldsFromRecord(const SettingsRecord& record);

// The record the fields are stored as, the texts encoded to CP932 and the
// boxes 0 or 1. nullopt when a text holds a character CP932 cannot hold.
std::optional<SettingsRecord> RecordFromFields(const FormFields& fields);
