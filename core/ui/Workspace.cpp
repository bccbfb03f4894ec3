#include "core/ui/Workspace.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace clarow {

void PlaceInWorkspace(QWidget *frame)
{
    auto *sub = frame ? qobject_cast<QMdiSubWindow *>(frame) : nullptr;
    QMdiArea *area = sub ? sub->mdiArea() : nullptr;
    if (auto *host = area ? dynamic_cast<Workspace *>(area->window()) : nullptr)
        host->placeInWorkspace(sub);
}

} // namespace clarow
