#pragma once

#include "core/Prompter.h"

namespace clarow {

// Shows the program's message boxes as real QMessageBox dialogs. When the program is asked to
// end (SIGTERM, log-out) an open box is dismissed and answers Cancel.
class MessageBoxPrompter final : public Prompter
{
public:
    Answer ask(const QString &text, const QString &title, Buttons buttons, Icon icon) override;
    void restoreCursor() override;

    // Closes any open box; every box from now on answers at once as if cancelled.
    static void dismissAll();
};

} // namespace clarow
