#include "setup/cp932_validator.h"

#include <QLineEdit>

#include "setup/cp932_text.h"

Cp932Validator::Cp932Validator(QLineEdit* field) : QValidator(field) {
    m_allowed = CountCp932Unholdable(field->text());
    // Refused edits never reach textChanged, so the count only grows when
    // the program sets a text.
    connect(field, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_allowed = CountCp932Unholdable(text); });
    field->setValidator(this);
}

QValidator::State Cp932Validator::validate(QString& input, int& /*pos*/) const {
    const int unholdable = CountCp932Unholdable(input);
    if (unholdable == 0) {
        return Acceptable;
    }
    return unholdable <= m_allowed ? Intermediate : Invalid;
}
