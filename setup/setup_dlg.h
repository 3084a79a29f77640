// The setup form: the one window of the program, on which the user enters
// the notifier's mail settings.
//
// Opening (OnInitDialog) loads the stored settings or shows the first-start
// defaults; the SSL and encrypted-password boxes preset the ports; the
// register button (Enter, Alt+R) runs OnOK; the end button (Alt+X), Esc and
// the close box run OnCancel, which ends the form and stores nothing.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "settings/settings_record.h"
#include "setup/form_fields.h"
#include "mailcheck/mail_check.h"

class MessageBoxes;
class QCheckBox;
class QLineEdit;
class TestMailRunner;

// What the form takes from the system. Tests replace each part.
struct SetupDlgServices {
    // The settings store file; DefaultStorePath() when empty.
    std::filesystem::path storeFile;
    // The logon name of the user running the form (the user database's
    // name for the effective user id); CurrentLogonName() when empty.
    std::function<std::string()> logonName;
    // Where messages go; boxes owned by the form when null. Not owned.
    MessageBoxes* messageBoxes = nullptr;
    // Passed to every test mail (wait limit, clock, trace, report); the
    // abort and the stage sink are the form's own.
    TestMailOptions testMail{};
    // The port a failed test offers when the typed one speaks plain SMTP:
    // the one servers speak TLS on from the first byte; kImplicitTlsPort
    // ("465") when empty.
    std::string implicitTlsPort{};
};

class CSetupDlg : public QDialog {
  public:
    explicit CSetupDlg(SetupDlgServices services = {}, QWidget* parent = nullptr);
    ~CSetupDlg() override;

    // Opens the form (OnInitDialog) and runs it modally until it ends;
    // returns QDialog::Rejected, the only way it ends.
    int DoModal();

    // The icon, then the stored settings if "SzTo" holds something, else the
    // first-start defaults (with one message when the logon name is empty);
    // the focus goes to the E-Mail field. Returns true.
    bool OnInitDialog();

    // Port switching after a click has toggled box 1027 or 1028.
    void OnSslClicked();
    void OnAuthClicked();

    // The register button: ValidateFields, and only when it passes, the
    // register flow (RegisterAndTest). The form stays open.
    void OnOK();

    // Ends the form; nothing is stored.
    void OnCancel();

    // The fourteen rules of field_validation.h on the current texts; on the
    // first failure shows its message in an OK box and returns false.
    bool ValidateFields();

    // Reads the settings record from the store; silent on any failure.
    void LoadSettings();

    // The edit, check box or button with `id` (a ControlId); null for ids
    // the form does not have.
    QWidget* Control(int id) const;

    FormFields Fields() const;
    void SetFields(const FormFields& fields);
    const SettingsRecord& Record() const { return m_record; }

    // The runner of the test mail, whose progress window tests drive.
    TestMailRunner& TestMail() { return *m_testMail; }

  protected:
    // What the register button does once the fields are valid, in order:
    // settle the scramble key (register_flow.h); ask whether to test; on No
    // record CONFIG_ERR = 1 and say the notifier cannot be used yet; on Yes
    // validate again, send the test mail from the fields in CP932 while the
    // form waits (mail_check_runner.h), then on failure or Cancel record
    // CONFIG_ERR = 1 and show the failure box (failure_box.h), and on
    // success store every setting with CONFIG_ERR = 0 and the brand key and
    // say so. When the box offers the implicit-TLS port and the user takes
    // it, that port goes into SMTP-PortNo and the test runs again at once,
    // with the same outcomes. A store that cannot be written is reported
    // instead of the outcome.
    virtual void RegisterAndTest();

    MessageBoxes& Boxes() { return *m_boxes; }

    // Esc and the close box end the form through OnCancel.
    void reject() override;

  private:
    // Shows the box for a failed test; true when the user took the offer
    // to test again on the implicit-TLS port (only when `mayOffer`).
    bool ShowTestFailure(const TestMailResult& result, bool mayOffer);

    QLineEdit* Edit(int id) const;
    QCheckBox* Box(int id) const;
    void SwitchPortsFor(int clickedId, int otherId);

    SetupDlgServices m_services;
    std::unique_ptr<MessageBoxes> m_ownBoxes;
    MessageBoxes* m_boxes = nullptr;
    std::map<int, QWidget*> m_controls;
    SettingsRecord m_record;
    std::unique_ptr<TestMailRunner> m_testMail;
};
