#pragma once

#include "retyper/Messages.h"

namespace clarow::retyper {

// Shows the tool's message boxes as real QMessageBox dialogs with an OK button.
class MessageBoxShower final : public MessageShower
{
public:
    void show(const QString &text, const QString &title) override;
};

} // namespace clarow::retyper
