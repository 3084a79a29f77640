// Keeps an edit field to what CP932 can hold, as an edit on a Shift_JIS
// Windows desktop would: a typed, pasted or committed character that CP932
// cannot hold is refused, so no text is silently changed when it is stored
// or sent, and a hint under the field names it. Characters of the JIS
// mapping (cp932_text.h) are taken and shown as CP932's own.
#pragma once

#include <QString>
#include <QStringList>
#include <QValidator>

class QLabel;
class QLineEdit;
class QTimer;

// The hint; ": " and the refused characters follow, except under a
// password field, which shows no typed character.
inline constexpr const char* kRefusedCharacterHint = "この文字は使えません";

class Cp932Validator final : public QValidator {
  public:
    // Installs itself on `field`, which owns it and its hint.
    explicit Cp932Validator(QLineEdit* field);

    // Acceptable when CP932 holds every character (after WithCp932Forms,
    // which it applies to `input`). A text set by the program may already
    // hold some it cannot (damaged stored bytes show as U+FFFD); an edit
    // may keep them (Intermediate) but never raise their number.
    State validate(QString& input, int& pos) const override;

    // The hint window, a tooltip-like label under the field; shown after a
    // refused edit until the text changes, the field loses the focus or a
    // few seconds pass.
    QLabel* Hint() const { return m_hint; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Shows the hint for the edit refused last, if this validator refused it.
    void ShowRefusal();
    void HideHint();

    QLineEdit* m_field;
    QLabel* m_hint;
    QTimer* m_hintTimer;
    // The field's text as last changed; the field already holds an edit
    // when it asks, so its text cannot tell.
    QString m_text;
    int m_allowed = 0;  // unholdable characters in m_text
    // What the last refused edit would have brought in; cleared by any edit
    // that passes.
    mutable QStringList m_refused;
};
