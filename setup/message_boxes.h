// The form's message boxes, behind one small interface so that tests can
// script the answers and read what was shown.
#pragma once

#include <QString>

class QWidget;

// The buttons of the program's boxes (UTF-8), Japanese whatever the locale.
inline constexpr const char* kYesButtonText = "はい(&Y)";
inline constexpr const char* kNoButtonText = "いいえ(&N)";
inline constexpr const char* kOkButtonText = "OK";
// The button that opens and closes a box's 詳細 section.
inline constexpr const char* kShowDetailsButtonText = "詳細を表示...";
inline constexpr const char* kHideDetailsButtonText = "詳細を隠す...";

// What one box says, all as plain text.
struct BoxMessage {
    QString text;     // the first line, the box's main text
    QString more;     // further sentences below it; empty for none
    QString details;  // the 詳細 section, closed until asked for and
                      // selectable for copying; empty: the box has none

    friend bool operator==(const BoxMessage&, const BoxMessage&) = default;
};

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;

    // An OK box with no icon; returns when the user has closed it (OK,
    // Enter, Esc or the close box).
    virtual void Tell(const BoxMessage& message) = 0;

    // A Yes/No question with the question icon, Yes the default button;
    // true only for Yes (No, Esc and the close box answer No).
    virtual bool Ask(const BoxMessage& message) = 0;

    // The same with `text` alone.
    void Ok(const QString& text) { Tell(BoxMessage{text, {}, {}}); }
    bool YesNo(const QString& text) { return Ask(BoxMessage{text, {}, {}}); }
};

// Real boxes, modal and owned by `owner`, captioned with the application
// title: the program file's name without extension, as Qt derives it.
class FormMessageBoxes final : public MessageBoxes {
  public:
    explicit FormMessageBoxes(QWidget* owner) : m_owner(owner) {}
    void Tell(const BoxMessage& message) override;
    bool Ask(const BoxMessage& message) override;

  private:
    QWidget* m_owner;
};
