#include "setup/message_boxes.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

int ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& text,
            QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, owner);
    // A top-level box does not inherit its owner's font; give it the form's
    // so that its Japanese text looks like the form's.
    if (owner != nullptr) {
        box.setFont(owner->font());
    }
    return box.exec();
}

}  // namespace

void FormMessageBoxes::Ok(const QString& text) {
    ShowBox(m_owner, QMessageBox::NoIcon, text, QMessageBox::Ok);
}

bool FormMessageBoxes::YesNo(const QString& text) {
    return ShowBox(m_owner, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}
