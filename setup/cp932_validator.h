// Keeps an edit field to what CP932 can hold, as an edit on a Shift_JIS
// Windows desktop would: a typed or pasted character that CP932 cannot hold
// is refused, so no text is silently changed when it is stored or sent.
#pragma once

#include <QValidator>

class QLineEdit;

class Cp932Validator final : public QValidator {
  public:
    // Installs itself on `field`, which owns it.
    explicit Cp932Validator(QLineEdit* field);

    // Acceptable when CP932 holds every character. A text set by the
    // program may already hold some it cannot (damaged stored bytes show as
    // U+FFFD); an edit may keep them (Intermediate) but never raise their
    // number.
    State validate(QString& input, int& pos) const override;

  private:
    // Unholdable characters in the field's text as last changed; the field
    // already holds an edit when it asks, so its text cannot tell.
    int m_allowed = 0;
};
