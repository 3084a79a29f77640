// The setup form: the one window of the program, on which the user enters
// the notifier's mail settings.
//
// Opening (OnInitDialog) loads the stored settings or shows the first-start
// defaults; the SSL and encrypted-password boxes preset the ports; the
// register button (Enter, Alt+R) runs OnOK; the end button (Alt+X), Esc and
// the close box run OnCancel, which ends the form and stores nothing.
// Leaving E-Mail with an address in it fills the server fields the user has
// left empty (AddressFill), with a line under the fields saying from where.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "mailcheck/mail_check.h"
#include "settings/settings_record.h"
#include "setup/address_fill.h"
#include "setup/form_fields.h"

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
    // How leaving E-Mail looks the address's servers up (address_fill.h).
    AddressLookupOptions addressLookup{};
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

    // The register button: ValidateFields, and only when it passes, one
    // press of the register flow (RegisterFlow::Press, register_flow.h) on
    // the store, with the form's fields and boxes; a port the flow writes
    // back goes into SMTP-PortNo. The form stays open.
    void OnOK();

    // Ends the form; nothing is stored. A lookup of the address is aborted
    // (and waited for when the form is destroyed).
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

    // What fills the server fields from the address.
    AddressFill& ServerFill() { return *m_addressFill; }

  protected:
    // Esc and the close box end the form through OnCancel.
    void reject() override;

  private:
    QLineEdit* Edit(int id) const;
    QCheckBox* Box(int id) const;
    void SwitchPortsFor(int clickedId, int otherId);

    SetupDlgServices m_services;
    std::unique_ptr<MessageBoxes> m_ownBoxes;
    MessageBoxes* m_boxes = nullptr;
    std::map<int, QWidget*> m_controls;
    SettingsRecord m_record;
    std::unique_ptr<TestMailRunner> m_testMail;
    // Destroyed before the controls it watches.
    std::unique_ptr<AddressFill> m_addressFill;
};
