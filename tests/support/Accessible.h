#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QString>
#include <QWidget>

namespace clarow::test {

// Toggles a check box or option button the way a screen reader does: through its accessible
// toggle action, which never emits `clicked`. False when the control offers no such action.
inline bool ToggleAsScreenReader(QAbstractButton *button)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(button);
    if (!a || !a->actionInterface())
        return false;
    const QString toggle = QAccessibleActionInterface::toggleAction();
    if (button->isEnabled() && !a->actionInterface()->actionNames().contains(toggle))
        return false;
    a->actionInterface()->doAction(toggle);
    return true;
}

// What a screen reader reads as a control's changing content (a text box's text).
inline QString AccessibleValue(QWidget *w)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Value) : QString();
}

} // namespace clarow::test
