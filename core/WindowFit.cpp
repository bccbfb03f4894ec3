#include "core/WindowFit.h"

#include <algorithm>

namespace clarow {

QRect GrownFrame(const QRect &frame, const QSize &shortBy, const QRect &available)
{
    QSize size = frame.size() + shortBy.expandedTo(QSize(0, 0));
    // The window stays where it is (its stored place does not change), so it may grow as far
    // as the area's right and bottom edges; it never becomes smaller than it is.
    if (available.isValid()) {
        const QSize room(available.right() - frame.left() + 1, available.bottom() - frame.top() + 1);
        size = size.boundedTo(room).expandedTo(frame.size());
    }
    return QRect(frame.topLeft(), size);
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
