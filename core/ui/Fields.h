#pragma once

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace clarow {

// A text box named for its role. Its caption, for screen readers and for scripts that look
// fields up by caption, is the accessible name.
[[nodiscard]] QLineEdit *NewEdit(QWidget *parent, const char *name, const QString &caption);

// The caption shown beside a field: the label's buddy is the field, so its access key and a
// screen reader lead there. The field takes the caption as its accessible name when it has
// none yet.
[[nodiscard]] QLabel *CaptionFor(const QString &text, QWidget *field);

// A push button named for its role. Enter in a text box does not press it.
[[nodiscard]] QPushButton *NewButton(QWidget *parent, const char *name, const QString &caption);

// Closes a window of the workspace together with its frame (or the window alone when it
// stands free); the window may refuse.
void CloseWindow(QWidget *window);

// A text box that can be typed in (white) or not (disabled, light grey).
void SetEditable(QLineEdit *box, bool on);

} // namespace clarow
