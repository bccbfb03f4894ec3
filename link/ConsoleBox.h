#pragma once

#include <QString>

namespace clarow {

// A message box written to standard error as "[title] text", for runs where nobody can
// answer a box (unattended, or no box installed). Carriage returns become line breaks.
void WriteBoxToStderr(const QString &title, const QString &text);

} // namespace clarow
