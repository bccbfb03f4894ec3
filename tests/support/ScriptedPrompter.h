#pragma once

#include "core/Prompter.h"

#include <QList>
#include <QString>

#include <deque>

namespace clarow::test {

// Records every message box and answers from a script; when the script is empty it answers
// Ok / Cancel / No as a user dismissing the box would. Installs itself while it lives.
class ScriptedPrompter final : public Prompter
{
public:
    struct Box
    {
        QString text;
        QString title;
        Buttons buttons;
        Icon icon;
    };

    ScriptedPrompter() { setPrompter(this); }
    ~ScriptedPrompter() override { setPrompter(nullptr); }

    Answer ask(const QString &text, const QString &title, Buttons buttons, Icon icon) override
    {
        boxes.append({text, title, buttons, icon});
        if (!answers.empty()) {
            const Answer a = answers.front();
            answers.pop_front();
            return a;
        }
        return DismissedAnswer(buttons);
    }

    [[nodiscard]] QStringList titles() const
    {
        QStringList t;
        for (const Box &b : boxes)
            t << b.title;
        return t;
    }

    QList<Box> boxes;
    std::deque<Answer> answers;
};

} // namespace clarow::test
