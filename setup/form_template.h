// The setup form as a dialog template: caption, size and every control with
// its place in dialog units, in template order (which is also the tab order
// of the controls that take the focus).
#pragma once

#include <span>

// Control ids. Texts that are only shown have no id of their own.
enum ControlId : int {
    ID_STATIC = -1,
    ID_REGISTER = 1,  // "登録(&R)", the default button
    ID_END = 2,       // "終了(&X)"
    ID_EMAIL = 1000,
    ID_SMTP_SERVER = 1001,
    ID_POP_SERVER = 1002,
    ID_ACCOUNT = 1003,
    ID_PASSWORD = 1004,
    ID_POWER_ON = 1005,
    ID_POWER_OFF = 1006,
    ID_SMTP_PORT = 1009,
    ID_POP_PORT = 1010,
    ID_TO = 1012,
    ID_USER_NAME = 1013,  // hidden
    ID_ON_SUBJECT = 1015,
    ID_OFF_SUBJECT = 1016,
    ID_SSL = 1027,
    ID_AUTH = 1028,
    ID_ADDRESS_LINE = 1029,  // a text: where the filled server values came from
};

enum class ControlKind {
    kEdit,           // bordered, scrolls horizontally, no length limit
    kPasswordEdit,   // an edit that masks what is typed
    kCheckBox,       // toggles itself when clicked
    kDefaultButton,  // pressed by Enter
    kButton,
    kText,  // a label or a hint
};

struct ControlTemplate {
    int id;  // a ControlId
    ControlKind kind;
    int x, y, width, height;  // dialog units
    const char* text;         // caption, UTF-8; "" for edits
    const char* name;         // object name, for finding the control
    bool hidden;              // never shown
};

inline constexpr const char* kFormCaption = "WakebellSetup";
inline constexpr int kFormWidth = 407;  // dialog units
inline constexpr int kFormHeight = 238;

// The template's font and its point size; see dialog_font.h for what stands
// in for it where it is not installed.
inline constexpr const char* kFormFontFace = "ＭＳ Ｐゴシック";
inline constexpr int kFormFontPoints = 10;

// All 39 controls in template order.
std::span<const ControlTemplate> FormControls();
