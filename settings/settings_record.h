// The settings record: the notifier's mail settings as the form holds them,
// and the value names under which the settings key stores each field.
//
// Texts are byte strings in the system's ANSI code page (Shift_JIS / CP932);
// nothing here converts them. Check states are 0 (not ticked) or 1 (ticked).
// A default-constructed record is all empty texts and zero states, which is
// also what loading gives when nothing usable is stored.
//
// The value names cross over and every reader and writer must keep it so:
// "SzTo" holds the form's E-Mail field (the user's own address) and "E-Mail"
// holds the form's To field (the address to be notified).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct SettingsRecord {
    std::string szTo;        // "SzTo": the form's E-Mail field
    std::string smtp;        // "SMTP": SMTP server
    std::string pop;         // "POP": POP server
    std::string account;     // "Account"
    std::string password;    // "Password"
    std::string smtpPortNo;  // "SMTPPortNo": the port as typed
    std::string popPortNo;   // "POPPortNo": the port as typed
    std::string eMail;       // "E-Mail": the form's To field
    std::string user;        // "User": logon name for which no mail is sent
    std::string subject;     // "Subject": power-on subject
    std::string subject2;    // "Subject2": power-off subject
    std::int32_t powerOn = 0;
    std::int32_t powerOff = 0;
    std::int32_t ssl = 0;
    std::int32_t auth = 0;

    friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

// A stored text (REG_SZ, scrambled) and the record field it fills.
struct TextValueName {
    std::string_view name;
    std::string SettingsRecord::*field;
};

// A stored check state (REG_DWORD, unscrambled) and the record field it fills.
struct StateValueName {
    std::string_view name;
    std::int32_t SettingsRecord::*field;
};

// The texts, in the order the register flow writes them. Loading reads the
// same values; as every key is read from one snapshot, the order of the
// queries makes no difference there.
inline constexpr TextValueName kTextValues[11] = {
    {"SzTo", &SettingsRecord::szTo},
    {"SMTP", &SettingsRecord::smtp},
    {"POP", &SettingsRecord::pop},
    {"Account", &SettingsRecord::account},
    {"Password", &SettingsRecord::password},
    {"SMTPPortNo", &SettingsRecord::smtpPortNo},
    {"POPPortNo", &SettingsRecord::popPortNo},
    {"E-Mail", &SettingsRecord::eMail},
    {"User", &SettingsRecord::user},
    {"Subject", &SettingsRecord::subject},
    {"Subject2", &SettingsRecord::subject2},
};

// The check states, in the order both loading and writing use.
inline constexpr StateValueName kStateValues[4] = {
    {"PowerOn", &SettingsRecord::powerOn},
    {"PowerOff", &SettingsRecord::powerOff},
    {"SSL", &SettingsRecord::ssl},
    {"AUTH", &SettingsRecord::auth},
};

// The test result in the settings key (REG_DWORD): 0 when the last test mail
// was sent, 1 when the test was declined or failed. Written by the register
// flow, read only by the notifier; loading the record never reads it.
inline constexpr std::string_view kConfigErrName = "CONFIG_ERR";
