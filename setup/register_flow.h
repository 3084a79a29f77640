// The register button's flow apart from the screen: which settings key it
// writes, what it hands the test mail, and what it writes to the store.
//
// The store side keeps one rule: nothing half done. Every key is written in
// one commit (registry_store.h), so a failure leaves the values that were
// there before; the functions return false and the form says so.
#pragma once

#include <cstdint>
#include <string>

#include "settings/registry_store.h"
#include "settings/scramble.h"
#include "settings/settings_record.h"
#include "mailcheck/mail_check.h"

// The messages of the flow (UTF-8).
inline constexpr const char* kTestQuestion = "通信のテストを行います。よろしいですか？";
inline constexpr const char* kTestDeclinedMessage =
    "通信のテストが完了するまでWakebellは使用できません。";
inline constexpr const char* kTestFailedMessage =
    "使用例を参考にしてWakebellの設定を変えてください。";
inline constexpr const char* kSettingsStoredMessage =
    "Wakebellの設定は正常に行われました。再起動後、設定は有効になります。";
// When the store cannot be written; the store file's path follows.
inline constexpr const char* kStoreFailedMessage = "Wakebellの設定を保存できませんでした。";
// When a field holds a character Shift_JIS cannot hold (only damaged stored
// text, shown as U+FFFD, can bring one in).
inline constexpr const char* kUnholdableTextMessage =
    "Shift_JISで表せない文字（\xEF\xBF\xBD）を含む欄があります。入力し直してください。";

// The scramble key of this press and the settings key it names.
struct SettingsKeyChoice {
    ScrambleKey key;
    std::string path;  // "Software\" + the scrambled product name
};

// The installation's key from the brand key when there is one; otherwise a
// fresh key from the clock (NewScrambleKey), which names a settings key
// that the next start cannot find until the brand key is written.
SettingsKeyChoice SettleSettingsKey(const RegistryStore& store);

// The test mail's arguments from the fields, in CP932 bytes: SMTP-Server,
// SMTP-PortNo as typed, Account and Password; the mail goes to E-Mail (the
// user's own address) from To (the address to be notified), with subject
// kTestMailSubject, boundary kTestMailBoundary, TLS from the start and the
// four test lines.
// The POP fields, the subjects, the logon name and the check boxes are not
// passed: the SSL and encrypted-password boxes do not change how the test
// mail is sent.
TestMailArguments TestMailArgumentsFor(const SettingsRecord& record);

// A declined or failed test: CONFIG_ERR = 1 in the settings key, nothing
// else; stored settings are kept.
bool RecordFailedTest(RegistryStore& store, const SettingsKeyChoice& settings);

// A sent test mail: CONFIG_ERR = 0, then the eleven texts scrambled with
// the key and the four check states, all in one commit; then Key1..Key4 in
// the brand key.
bool StoreTestedSettings(RegistryStore& store, const SettingsKeyChoice& settings,
                         const SettingsRecord& record);
