#pragma once

#include <QGroupBox>
#include <QString>

#include <initializer_list>
#include <utility>

class QCheckBox;
class QColor;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace clarow {

// A control named for its role: tests, scripts and the window's own code find it by name.
template <class W>
W *Named(W *control, const char *name)
{
    control->setObjectName(QLatin1String(name));
    return control;
}

// A text box named for its role. Its caption, for screen readers and for scripts that look
// fields up by caption, is the accessible name.
[[nodiscard]] QLineEdit *NewEdit(QWidget *parent, const char *name, const QString &caption);

// A text box that shows a result or a value the user does not type: as NewEdit, read-only.
[[nodiscard]] QLineEdit *NewResultBox(QWidget *parent, const char *name, const QString &caption);

// A label named for its role, for labels the window changes or a test reads.
[[nodiscard]] QLabel *NewLabel(QWidget *parent, const char *name, const QString &text);

// The caption shown beside a field: the label's buddy is the field, so its access key and a
// screen reader lead there. The field takes the caption as its accessible name when it has
// none yet.
[[nodiscard]] QLabel *CaptionFor(const QString &text, QWidget *field);
// The same, named for its role.
[[nodiscard]] QLabel *CaptionFor(const QString &text, QWidget *field, const char *name);

// A push button named for its role. Enter in a text box does not press it.
[[nodiscard]] QPushButton *NewButton(QWidget *parent, const char *name, const QString &caption);

// A check box and an option button named for their role; the caption is their text.
[[nodiscard]] QCheckBox *NewCheck(QWidget *parent, const char *name, const QString &caption);
[[nodiscard]] QRadioButton *NewOption(QWidget *parent, const char *name, const QString &caption);

// A titled frame of controls with the layout (of kind L) that arranges them.
template <class L>
std::pair<QGroupBox *, L *> NewGroup(QWidget *parent, const QString &title)
{
    auto *group = new QGroupBox(title, parent);
    return {group, new L(group)};
}

// A row of a form: the caption, leading to field, beside the field, or beside row when the
// field stands in a row of other controls.
void AddField(QFormLayout *form, const QString &caption, QWidget *field);
void AddField(QFormLayout *form, const QString &caption, QWidget *field, QLayout *row);

// A short number box followed by its unit (an empty unit keeps the spacing of one).
void AddNumberBox(QHBoxLayout *row, QLineEdit *box, const QString &unit);

// The buttons of a window or of a page: the left ones, a stretch, then the right ones.
[[nodiscard]] QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> right, std::initializer_list<QWidget *> left = {});

// Closes a window of the workspace together with its frame (or the window alone when it
// stands free); the window may refuse.
void CloseWindow(QWidget *window);

// The background of a text box.
void SetBackground(QLineEdit *box, const QColor &colour);

// A text box that can be typed in (white) or not (disabled, light grey).
void SetEditable(QLineEdit *box, bool on);

} // namespace clarow

