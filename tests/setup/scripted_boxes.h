// Message boxes for tests: every box the form shows is noted in order, and
// questions are answered from a script (No once it runs out).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "setup/message_boxes.h"

struct ScriptedBoxes final : MessageBoxes {
    struct Shown {
        bool question = false;
        BoxMessage message;
    };
    // Every box in full.
    QList<Shown> boxes;
    // The same as "ok: <first line>" or "yes/no: <first line>".
    QStringList shown;
    QList<bool> answers;

    void Tell(const BoxMessage& message) override {
        boxes.append({false, message});
        shown << QStringLiteral("ok: ") + message.text;
    }
    bool Ask(const BoxMessage& message) override {
        boxes.append({true, message});
        shown << QStringLiteral("yes/no: ") + message.text;
        return !answers.isEmpty() && answers.takeFirst();
    }
};
