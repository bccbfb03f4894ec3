#include "core/Prompter.h"

#include "link/ConsoleBox.h"

namespace clarow {

namespace {

class StderrPrompter final : public Prompter
{
public:
    Answer ask(const QString &text, const QString &title, Buttons buttons, Icon) override
    {
        WriteBoxToStderr(title, text);
        return DismissedAnswer(buttons);
    }
};

Prompter *g_prompter = nullptr;

} // namespace

Prompter &prompter()
{
    static StderrPrompter fallback;
    return g_prompter ? *g_prompter : fallback;
}

void setPrompter(Prompter *p) { g_prompter = p; }

Answer DismissedAnswer(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::YesNo:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

Answer MsgBox(const QString &text, const QString &title, Buttons buttons, Icon icon)
{
    return prompter().ask(text, title, buttons, icon);
}

void ShowError(int number, const QString &description)
{
    prompter().restoreCursor();
    MsgBox(QStringLiteral("Error ") + QString::number(number) + QStringLiteral(".\r") + description,
           QStringLiteral("Error"), Buttons::Ok, Icon::Exclamation);
}

} // namespace clarow
