// The register button's flow apart from the screen: what one press of 登録
// decides (ask, validate again, run the test mail, offer the implicit-TLS
// port, record the outcome, store, which boxes to show), which settings key
// it writes, what it hands the test mail, and what it writes to the store.
//
// Errors in setup/: everything the user is told goes through the one
// MessageBoxes interface (message_boxes.h); nothing here throws but
// std::bad_alloc. The store side keeps one rule, nothing half done: every
// key is written in one commit (registry_store.h), so a failure leaves the
// values that were there before; RecordFailedTest and StoreTestedSettings
// return false and the flow says so (kStoreFailedMessage). A press ends in
// one RegisterOutcome, after its last box.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "mailcheck/mail_check.h"
#include "settings/registry_store.h"
#include "settings/scramble.h"
#include "settings/settings_record.h"
#include "setup/failure_advice.h"
#include "setup/form_fields.h"

class MailCheckRunner;
class MessageBoxes;

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

// The fourteen rules of field_validation.h on `fields`: on the first that
// fails its message in an OK box and false; true when all pass.
bool FieldsPass(const FormFields& fields, MessageBoxes& boxes);

// How one press ended (after its last box).
enum class RegisterOutcome {
    kDeclined,     // No to the question: CONFIG_ERR = 1, kTestDeclinedMessage
    kInvalid,      // the second validation failed: its message, nothing written
    kUnholdable,   // a text CP932 cannot hold: kUnholdableTextMessage, nothing written
    kFailed,       // the test mail failed or was cancelled: CONFIG_ERR = 1, the failure box
    kStored,       // sent: every setting stored, kSettingsStoredMessage
    kStoreFailed,  // the store could not be written: kStoreFailedMessage and its file
};

class RegisterFlow {
  public:
    // store, boxes and mailCheck are not owned and outlive the flow.
    // implicitTlsPort: the port a failed test offers when the typed one
    // speaks plain SMTP (kImplicitTlsPort unless a test points it elsewhere).
    RegisterFlow(RegistryStore& store, MessageBoxes& boxes, MailCheckRunner& mailCheck,
                 std::string implicitTlsPort = kImplicitTlsPort);

    // One press of the register button with the form's fields, once the
    // form has validated them: settle the scramble key; ask whether to
    // test; on No record CONFIG_ERR = 1 and say the notifier cannot be used
    // yet; on Yes validate again (FieldsPass), send the test mail from the
    // fields in CP932 (TestMailArgumentsFor), then on failure or Cancel
    // record CONFIG_ERR = 1 and show the failure box (failure_box.h), and
    // on success store every setting with CONFIG_ERR = 0 and the brand key
    // and say so. When the box offers the implicit-TLS port and the user
    // takes it, writePort(port) puts it in SMTP-PortNo (may be empty) and
    // the test runs again at once with it, with the same outcomes but no
    // second offer. A store that cannot be written is reported instead of
    // the outcome.
    RegisterOutcome Press(FormFields fields,
                          const std::function<void(const QString& port)>& writePort = {});

    // The record the last test mail was sent from; nullopt before one.
    const std::optional<SettingsRecord>& TestedRecord() const { return m_tested; }

  private:
    // Shows the failure box; true when the user took the offer to test
    // again on the implicit-TLS port (only when `mayOffer`).
    bool ShowTestFailure(const TestMailResult& result, const FormFields& fields, bool mayOffer);
    RegisterOutcome StoreFailed();

    RegistryStore& m_store;
    MessageBoxes& m_boxes;
    MailCheckRunner& m_mailCheck;
    std::string m_implicitTlsPort;
    std::optional<SettingsRecord> m_tested;
};
