// Message boxes for tests: records every text shown and answers questions
// from a script instead of waiting for a user.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>

#include "setup/message_boxes.h"

class ScriptedBoxes final : public MessageBoxes {
  public:
    void Ok(const QString& text) override { shown << text; }
    bool YesNo(const QString& text) override {
        asked << text;
        if (answers.empty()) {
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    QStringList shown;         // OK boxes, in order
    QStringList asked;         // Yes/No questions, in order
    std::deque<bool> answers;  // Yes (true) or No for the next questions
};
