#pragma once

#include <QString>

namespace clarow {

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class Icon { None, Information, Exclamation, Critical, Question };
enum class Answer { Ok, Cancel, Yes, No, Retry };

// Every message box of the program goes through one prompter. The windows install one that
// shows a real box; tests install one that records the boxes and answers from a script, so
// that no modal box ever blocks a test.
class Prompter
{
public:
    virtual ~Prompter() = default;
    virtual Answer ask(const QString &text, const QString &title, Buttons buttons, Icon icon) = 0;
    // Sets the mouse pointer back to normal before an error box.
    virtual void restoreCursor() {}
};

Prompter &prompter();
// Installs a prompter (not owned); nullptr brings back the default, which writes the box to
// standard error and answers as if it were cancelled (Ok for a box with only Ok).
void setPrompter(Prompter *p);

// The answer of a box that was dismissed without a choice: Ok for a box with only Ok, No for
// a yes/no question, Cancel otherwise.
[[nodiscard]] Answer DismissedAnswer(Buttons buttons);

Answer MsgBox(const QString &text, const QString &title, Buttons buttons = Buttons::Ok,
              Icon icon = Icon::None);

// The shared message for an unexpected error in a window's procedure: pointer back to
// normal, then "Error " + number + "." + CR + description, exclamation icon, title "Error".
void ShowError(int number, const QString &description);

} // namespace clarow
