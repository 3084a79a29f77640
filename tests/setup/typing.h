// Typing into widgets as a keyboard would, one key event per character, for
// any character (QTest::keyClicks handles Latin-1 only).
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QString>
#include <QWidget>

inline void TypeText(QWidget* widget, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A surrogate pair is one character and one key press.
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        i += length - 1;
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &release);
    }
}

// Empties the field and types `text` into it.
inline void Retype(QLineEdit* edit, const QString& text) {
    edit->clear();
    TypeText(edit, text);
}
