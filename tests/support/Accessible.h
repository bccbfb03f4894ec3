#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>

namespace clarow::test {

// Toggles a check box or option button as a screen reader does: through its accessible
// toggle action, which never emits `clicked`. False when the control offers no such action.
inline bool ToggleAsScreenReader(QAbstractButton *button)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(button);
    const QString toggle = QAccessibleActionInterface::toggleAction();
    if (!a || !a->actionInterface() || (button->isEnabled() && !a->actionInterface()->actionNames().contains(toggle)))
        return false;
    a->actionInterface()->doAction(toggle);
    return true;
}

} // namespace clarow::test
