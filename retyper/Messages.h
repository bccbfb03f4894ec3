#pragma once

#include <QString>

namespace clarow::retyper {

// Where the tool's message boxes go. The program installs one that shows a real box; tests
// install one that records the boxes, so that no modal box ever blocks a test. Without one
// installed a box is written to standard error.
class MessageShower
{
public:
    virtual ~MessageShower() = default;
    // A box with the text, the title and an OK button; returns once it is dismissed.
    virtual void show(const QString &text, const QString &title) = 0;
};

MessageShower &messages();
// Installs a shower (not owned); nullptr brings back the standard-error one.
void setMessages(MessageShower *shower);

// The box of a window that could not load: "Error loading program.", the error number and
// its description, each on a line of its own.
[[nodiscard]] QString LoadErrorText(int number, const QString &description);

} // namespace clarow::retyper
