// The Qt message boxes behind the form's one message-box interface.
#include "setup/message_boxes.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QTextEdit>

namespace {

// Keeps the 詳細 button's text Japanese. The box retitles the button in
// English on each click, just before it shows or hides the details; this
// retitles it again when they have been shown or hidden.
class DetailsButtonTitle final : public QObject {
  public:
    DetailsButtonTitle(QAbstractButton* button, QWidget* details)
        : QObject(button), m_button(button) {
        details->installEventFilter(this);
        Update(details->isVisible());
    }

  protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
            Update(event->type() == QEvent::Show);
        }
        return false;
    }

  private:
    void Update(bool open) {
        m_button->setText(
            QString::fromUtf8(open ? kHideDetailsButtonText : kShowDetailsButtonText));
    }

    QAbstractButton* m_button;
};

// Gives every button of `box` its Japanese text; the 詳細 button is the
// box's one action button.
void UseJapaneseButtons(QMessageBox& box) {
    for (const auto& [button, text] : {std::pair{QMessageBox::Yes, kYesButtonText},
                                       {QMessageBox::No, kNoButtonText},
                                       {QMessageBox::Ok, kOkButtonText}}) {
        if (QAbstractButton* shown = box.button(button)) {
            shown->setText(QString::fromUtf8(text));
        }
    }
    auto* detailsText = box.findChild<QTextEdit*>();
    if (detailsText == nullptr) {
        return;
    }
    for (QAbstractButton* button : box.buttons()) {
        if (box.buttonRole(button) == QMessageBox::ActionRole) {
            // The text sits in a frame of its own, which is what opens and closes.
            new DetailsButtonTitle(button, detailsText->parentWidget());
        }
    }
}

int ShowBox(QWidget* owner, QMessageBox::Icon icon, const BoxMessage& message,
            QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, QCoreApplication::applicationName(), message.text, buttons, owner);
    // Server replies may hold '<': never read any text as markup.
    box.setTextFormat(Qt::PlainText);
    if (!message.more.isEmpty()) {
        box.setInformativeText(message.more);
        if (auto* more = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
            more->setTextFormat(Qt::PlainText);
        }
    }
    if (!message.details.isEmpty()) {
        box.setDetailedText(message.details);
    }
    UseJapaneseButtons(box);
    // A top-level box does not inherit its owner's font; give it the form's
    // so that its Japanese text looks like the form's.
    if (owner != nullptr) {
        box.setFont(owner->font());
    }
    // Qt wraps further sentences to about the first line's width, which
    // leaves Japanese a few characters a line; give them room for about
    // thirty-six.
    if (!message.more.isEmpty() || !message.details.isEmpty()) {
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
            const int width = box.fontMetrics().horizontalAdvance(QChar(0x3042)) * 36;
            grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                          grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    return box.exec();
}

}  // namespace

void FormMessageBoxes::Tell(const BoxMessage& message) {
    ShowBox(m_owner, QMessageBox::NoIcon, message, QMessageBox::Ok);
}

bool FormMessageBoxes::Ask(const BoxMessage& message) {
    return ShowBox(m_owner, QMessageBox::Question, message, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}
