// The setup form's window: its controls, its fields and its buttons.
#include "setup/setup_dlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "settings/registry_store.h"
#include "settings/settings_loader.h"
#include "settings/store_files.h"
#include "setup/app_icon.h"
#include "setup/cp932_validator.h"
#include "setup/dialog_font.h"
#include "setup/dialog_units.h"
#include "setup/form_template.h"
#include "setup/logon_name.h"
#include "setup/mail_check_runner.h"
#include "setup/message_boxes.h"
#include "setup/port_switching.h"
#include "setup/register_flow.h"

namespace {

QWidget* MakeControl(const ControlTemplate& control, QWidget* parent) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
        case ControlKind::kEdit:
        case ControlKind::kPasswordEdit: {
            auto* edit = new QLineEdit(parent);
            if (control.kind == ControlKind::kPasswordEdit) {
                edit->setEchoMode(QLineEdit::Password);
            }
            new Cp932Validator(edit);
            return edit;
        }
        case ControlKind::kCheckBox: return new QCheckBox(text, parent);
        case ControlKind::kDefaultButton:
        case ControlKind::kButton: {
            auto* button = new QPushButton(text, parent);
            button->setDefault(control.kind == ControlKind::kDefaultButton);
            return button;
        }
        case ControlKind::kText: break;
    }
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

CSetupDlg::CSetupDlg(SetupDlgServices services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_services(std::move(services)),
      m_testMail(std::make_unique<TestMailRunner>(this, m_services.testMail)) {
    if (m_services.storeFile.empty()) {
        m_services.storeFile = DefaultStorePath();
    }
    if (!m_services.logonName) {
        m_services.logonName = CurrentLogonName;
    }
    if (m_services.implicitTlsPort.empty()) {
        m_services.implicitTlsPort = kImplicitTlsPort;
    }
    if (m_services.messageBoxes == nullptr) {
        m_ownBoxes = std::make_unique<FormMessageBoxes>(this);
    }
    m_boxes = m_services.messageBoxes != nullptr ? m_services.messageBoxes : m_ownBoxes.get();

    setWindowTitle(QString::fromUtf8(kFormCaption));
    setFont(DialogFont(logicalDpiY()));
    const DialogBaseUnits base = BaseUnitsOf(font());
    setFixedSize(DialogUnitsToPixels(QRect(0, 0, kFormWidth, kFormHeight), base).size());

    // Created in template order, which Qt takes as the tab order; hidden
    // controls drop out of it.
    for (const ControlTemplate& control : FormControls()) {
        QWidget* widget = MakeControl(control, this);
        widget->setObjectName(QString::fromLatin1(control.name));
        widget->setGeometry(
            DialogUnitsToPixels(QRect(control.x, control.y, control.width, control.height), base));
        widget->setVisible(!control.hidden);
        if (control.id != ID_STATIC) {
            m_controls[control.id] = widget;
        }
    }
    m_addressFill = std::make_unique<AddressFill>(
        AddressFillControls{Edit(ID_EMAIL), Edit(ID_SMTP_SERVER), Edit(ID_SMTP_PORT), Box(ID_SSL),
                            Box(ID_AUTH), Edit(ID_ACCOUNT), Edit(ID_POP_SERVER), Edit(ID_POP_PORT),
                            qobject_cast<QLabel*>(Control(ID_ADDRESS_LINE))},
        m_services.addressLookup);
    connect(Box(ID_SSL), &QCheckBox::clicked, this, [this] { OnSslClicked(); });
    connect(Box(ID_AUTH), &QCheckBox::clicked, this, [this] { OnAuthClicked(); });
    connect(qobject_cast<QPushButton*>(Control(ID_REGISTER)), &QPushButton::clicked, this,
            [this] { OnOK(); });
    connect(qobject_cast<QPushButton*>(Control(ID_END)), &QPushButton::clicked, this,
            [this] { OnCancel(); });
}

CSetupDlg::~CSetupDlg() = default;

int CSetupDlg::DoModal() {
    OnInitDialog();
    return exec();
}

bool CSetupDlg::OnInitDialog() {
    setWindowIcon(ApplicationIcon());
    LoadSettings();
    const bool stored = ShowsStoredRecord(m_record);
    SetFields(stored ? FieldsFromRecord(m_record) : FirstStartFields());
    m_addressFill->Reset(!stored);
    if (!stored && m_services.logonName().empty()) {
        m_boxes->Ok(QString::fromUtf8(kNoLogonNameMessage));
    }
    Edit(ID_EMAIL)->setFocus();
    return true;
}

void CSetupDlg::OnSslClicked() {
    SwitchPortsFor(ID_SSL, ID_AUTH);
}

void CSetupDlg::OnAuthClicked() {
    SwitchPortsFor(ID_AUTH, ID_SSL);
}

void CSetupDlg::SwitchPortsFor(int clickedId, int otherId) {
    const PortSwitch ports = SwitchPorts(clickedId == ID_SSL ? PortBox::kSsl : PortBox::kAuth,
                                         Box(clickedId)->isChecked());
    if (ports.clearOtherBox) {
        Box(otherId)->setChecked(false);
    }
    Edit(ID_SMTP_PORT)->setText(QString::fromLatin1(ports.smtpPortNo));
    Edit(ID_POP_PORT)->setText(QString::fromLatin1(ports.popPortNo));
}

void CSetupDlg::OnOK() {
    if (!ValidateFields()) {
        return;
    }
    RegistryStore store(m_services.storeFile);
    RegisterFlow flow(store, *m_boxes, *m_testMail, m_services.implicitTlsPort);
    flow.Press(Fields(), [this](const QString& port) { Edit(ID_SMTP_PORT)->setText(port); });
    if (flow.TestedRecord()) {
        m_record = *flow.TestedRecord();
    }
}

void CSetupDlg::OnCancel() {
    m_addressFill->AbortAll();
    QDialog::reject();
}

void CSetupDlg::reject() {
    OnCancel();
}

bool CSetupDlg::ValidateFields() {
    return FieldsPass(Fields(), *m_boxes);
}

void CSetupDlg::LoadSettings() {
    m_record = LoadSettingsRecord(RegistryStore(m_services.storeFile));
}

QWidget* CSetupDlg::Control(int id) const {
    const auto found = m_controls.find(id);
    return found != m_controls.end() ? found->second : nullptr;
}

QLineEdit* CSetupDlg::Edit(int id) const {
    return qobject_cast<QLineEdit*>(Control(id));
}

QCheckBox* CSetupDlg::Box(int id) const {
    return qobject_cast<QCheckBox*>(Control(id));
}

FormFields CSetupDlg::Fields() const {
    FormFields fields;
    fields.eMail = Edit(ID_EMAIL)->text();
    fields.popServer = Edit(ID_POP_SERVER)->text();
    fields.smtpServer = Edit(ID_SMTP_SERVER)->text();
    fields.account = Edit(ID_ACCOUNT)->text();
    fields.password = Edit(ID_PASSWORD)->text();
    fields.smtpPortNo = Edit(ID_SMTP_PORT)->text();
    fields.popPortNo = Edit(ID_POP_PORT)->text();
    fields.to = Edit(ID_TO)->text();
    fields.userName = Edit(ID_USER_NAME)->text();
    fields.onSubject = Edit(ID_ON_SUBJECT)->text();
    fields.offSubject = Edit(ID_OFF_SUBJECT)->text();
    fields.powerOn = Box(ID_POWER_ON)->isChecked();
    fields.powerOff = Box(ID_POWER_OFF)->isChecked();
    fields.ssl = Box(ID_SSL)->isChecked();
    fields.auth = Box(ID_AUTH)->isChecked();
    return fields;
}

void CSetupDlg::SetFields(const FormFields& fields) {
    Edit(ID_EMAIL)->setText(fields.eMail);
    Edit(ID_POP_SERVER)->setText(fields.popServer);
    Edit(ID_SMTP_SERVER)->setText(fields.smtpServer);
    Edit(ID_ACCOUNT)->setText(fields.account);
    Edit(ID_PASSWORD)->setText(fields.password);
    Edit(ID_SMTP_PORT)->setText(fields.smtpPortNo);
    Edit(ID_POP_PORT)->setText(fields.popPortNo);
    Edit(ID_TO)->setText(fields.to);
    Edit(ID_USER_NAME)->setText(fields.userName);
    Edit(ID_ON_SUBJECT)->setText(fields.onSubject);
    Edit(ID_OFF_SUBJECT)->setText(fields.offSubject);
    Box(ID_POWER_ON)->setChecked(fields.powerOn);
    Box(ID_POWER_OFF)->setChecked(fields.powerOff);
    Box(ID_SSL)->setChecked(fields.ssl);
    Box(ID_AUTH)->setChecked(fields.auth);
}
