#include "shell/WindowFit.h"

#include <algorithm>

namespace clarow {

QRect GrownFrame(const QRect &frame, const QSize &shortBy, const QRect &available)
{
    QSize size = frame.size() + shortBy.expandedTo(QSize(0, 0));
    // Growing never makes the window smaller than it is.
    if (available.isValid())
        size = size.boundedTo(available.size()).expandedTo(frame.size());
    QRect grown(frame.topLeft(), size);
    if (!available.isValid())
        return grown;
    if (grown.right() > available.right())
        grown.moveRight(available.right());
    if (grown.bottom() > available.bottom())
        grown.moveBottom(available.bottom());
    if (grown.left() < available.left())
        grown.moveLeft(available.left());
    if (grown.top() < available.top())
        grown.moveTop(available.top());
    return grown;
}

QRect PlacedInside(const QRect &window, const QSize &room, const QSize &minimum)
{
    const QSize size = window.size().boundedTo(room).expandedTo(minimum);
    QRect placed(window.topLeft(), size);
    if (placed.right() >= room.width())
        placed.moveLeft(room.width() - size.width());
    if (placed.bottom() >= room.height())
        placed.moveTop(room.height() - size.height());
    if (placed.left() < 0)
        placed.moveLeft(0);
    if (placed.top() < 0)
        placed.moveTop(0);
    return placed;
}

} // namespace clarow
