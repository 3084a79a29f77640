// The form's controls with their places in dialog units, in template order.
#include "setup/form_template.h"

namespace {

using enum ControlKind;

constexpr ControlTemplate kControls[] = {
    {ID_EMAIL, kEdit, 65, 39, 123, 12, "", "eMailEdit", false},
    {ID_POP_SERVER, kEdit, 65, 54, 123, 12, "", "popServerEdit", false},
    {ID_SMTP_SERVER, kEdit, 65, 68, 123, 12, "", "smtpServerEdit", false},
    {ID_ACCOUNT, kEdit, 65, 83, 123, 12, "", "accountEdit", false},
    {ID_PASSWORD, kPasswordEdit, 65, 98, 123, 12, "", "passwordEdit", false},
    {ID_SMTP_PORT, kEdit, 65, 112, 24, 12, "", "smtpPortEdit", false},
    {ID_POWER_ON, kCheckBox, 195, 111, 146, 11, "PowerOnの時にメールを送る(通知する)", "powerOnBox",
     false},
    {ID_POP_PORT, kEdit, 65, 138, 24, 12, "", "popPortEdit", false},
    {ID_POWER_OFF, kCheckBox, 195, 125, 142, 10, "PowerOffの時にメールを送る(通知する)",
     "powerOffBox", false},
    {ID_TO, kEdit, 65, 155, 123, 12, "", "toEdit", false},
    {ID_USER_NAME, kEdit, 303, 219, 56, 12, "", "userNameEdit", true},
    {ID_ON_SUBJECT, kEdit, 65, 171, 123, 12, "", "onSubjectEdit", false},
    {ID_OFF_SUBJECT, kEdit, 65, 186, 123, 12, "", "offSubjectEdit", false},
    {ID_REGISTER, kDefaultButton, 290, 18, 49, 14, "登録(&R)", "registerButton", false},
    {ID_END, kButton, 342, 18, 49, 14, "終了(&X)", "endButton", false},
    {ID_STATIC, kText, 24, 42, 25, 8, "E-Mail", "eMailLabel", false},
    {ID_STATIC, kText, 18, 57, 36, 9, "POP-Server", "popServerLabel", false},
    {ID_STATIC, kText, 15, 71, 47, 10, "SMTP-Server", "smtpServerLabel", false},
    {ID_STATIC, kText, 22, 86, 34, 8, "Account", "accountLabel", false},
    {ID_STATIC, kText, 20, 100, 33, 8, "Password", "passwordLabel", false},
    {ID_STATIC, kText, 14, 141, 43, 10, "POP-PortNo", "popPortLabel", false},
    {ID_STATIC, kText, 31, 157, 18, 9, "To", "toLabel", false},
    {ID_STATIC, kText, 310, 222, 38, 9, "User Name", "userNameLabel", true},
    {ID_STATIC, kText, 17, 173, 40, 10, "ON-Subject", "onSubjectLabel", false},
    {ID_STATIC, kText, 16, 187, 44, 10, "OFF-Subject", "offSubjectLabel", false},
    {ID_STATIC, kText, 194, 42, 153, 8, "(例) taro@example.co.jp", "eMailHint", false},
    {ID_STATIC, kText, 194, 70, 200, 8,
     "(例) smtp.example.co.jp 社内またはプロバイダーのSMTP－Server", "smtpServerHint", false},
    {ID_STATIC, kText, 194, 56, 190, 8,
     "(例) pop.example.co.jp 社内またはプロバイダーのPOP－Server", "popServerHint", false},
    {ID_STATIC, kText, 194, 84, 60, 8, "(例) taro", "accountHint", false},
    {ID_STATIC, kText, 194, 98, 60, 8, "(例)　xxxxxx", "passwordHint", false},
    {ID_STATIC, kText, 194, 156, 185, 8, "(例) hanako@example.jp （知らせたいメールアドレス）",
     "toHint", false},
    {ID_STATIC, kText, 302, 222, 57, 9, "(例) taro　※このログオン名でログオンした時には通知しない",
     "userNameHint", true},
    {ID_STATIC, kText, 194, 173, 89, 11, "(例) 会社のPC-PowerOn", "onSubjectHint", false},
    {ID_STATIC, kText, 194, 188, 84, 11, "(例) 自宅のPC-PowerOｆｆ", "offSubjectHint", false},
    {ID_SSL, kCheckBox, 92, 113, 62, 11, "SSLを使用する", "sslBox", false},
    {ID_STATIC, kText, 14, 113, 46, 10, "SMTP-PortNo", "smtpPortLabel", false},
    {ID_AUTH, kCheckBox, 92, 124, 95, 12, "暗号パスワードを使用する", "authBox", false},
    {ID_STATIC, kText, 18, 21, 266, 12,
     "サーバー情報を入力して登録ボタンを押下して、その後に通信のテストをしてください。",
     "instructionText", false},
    // Under the fields' column in the free band at the bottom: the band
    // under E-Mail is taken by POP-Server, three units below it.
    {ID_ADDRESS_LINE, kText, 65, 201, 335, 10, "", "addressLine", false},
};

}  // namespace

std::span<const ControlTemplate> FormControls() {
    return kControls;
}
