// The edit-field validator that refuses characters CP932 cannot hold.
#include "setup/cp932_validator.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolTip>

#include "setup/cp932_text.h"

namespace {

constexpr int kHintMilliseconds = 5000;

}  // namespace

Cp932Validator::Cp932Validator(QLineEdit* field)
    : QValidator(field),
      m_field(field),
      m_hint(new QLabel(field, Qt::ToolTip)),
      m_hintTimer(new QTimer(this)),
      m_text(field->text()) {
    m_allowed = CountCp932Unholdable(m_text);
    // Refused edits never reach textChanged, so the count only grows when
    // the program sets a text.
    connect(field, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_text = text;
        m_allowed = CountCp932Unholdable(text);
        m_refused.clear();
        HideHint();
    });
    // The field rejects a typed key, a paste or an input method's commit
    // after validate has refused it.
    connect(field, &QLineEdit::inputRejected, this, [this] { ShowRefusal(); });
    field->setValidator(this);

    // A tooltip's own window hides at the next key release, which would be
    // the refused key's; this one stays.
    m_hint->setObjectName(QStringLiteral("cp932Hint"));
    m_hint->setAttribute(Qt::WA_ShowWithoutActivating);
    m_hint->setTextFormat(Qt::PlainText);
    m_hint->setPalette(QToolTip::palette());
    m_hint->setAutoFillBackground(true);
    m_hint->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_hint->setMargin(2);
    m_hintTimer->setSingleShot(true);
    m_hintTimer->setInterval(kHintMilliseconds);
    connect(m_hintTimer, &QTimer::timeout, this, [this] { HideHint(); });
    field->installEventFilter(this);
}

QValidator::State Cp932Validator::validate(QString& input, int& /*pos*/) const {
    // Same length, so the cursor stays where it is.
    input = WithCp932Forms(std::move(input));
    const int unholdable = CountCp932Unholdable(input);
    m_refused.clear();
    if (unholdable == 0) {
        return Acceptable;
    }
    if (unholdable <= m_allowed) {
        return Intermediate;
    }
    // Name what the edit brought in, not the damage the field already held.
    const QStringList held = Cp932UnholdableCharacters(m_text);
    for (const QString& character : Cp932UnholdableCharacters(input)) {
        if (!held.contains(character)) {
            m_refused << character;
        }
    }
    if (m_refused.isEmpty()) {
        m_refused = held;
    }
    return Invalid;
}

bool Cp932Validator::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_field &&
        (event->type() == QEvent::FocusOut || event->type() == QEvent::Hide)) {
        HideHint();
    }
    return QValidator::eventFilter(watched, event);
}

void Cp932Validator::ShowRefusal() {
    if (m_refused.isEmpty()) {
        return;
    }
    m_hint->setFont(m_field->font());
    QString hint = QString::fromUtf8(kRefusedCharacterHint);
    if (m_field->echoMode() == QLineEdit::Normal) {
        hint += QStringLiteral(": ") + m_refused.join(QLatin1Char(' '));
    }
    m_hint->setText(hint);
    m_refused.clear();
    m_hint->adjustSize();
    m_hint->move(m_field->mapToGlobal(QPoint(0, m_field->height())));
    m_hint->show();
    m_hintTimer->start();
}

void Cp932Validator::HideHint() {
    m_hintTimer->stop();
    m_hint->hide();
}
