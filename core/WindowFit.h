#pragma once

#include <QRect>
#include <QSize>

namespace clarow {

// Where the main window and the windows in its workspace go, so that a window opened there is
// seen whole. Geometry only: the windows carry the results out.

// The main window's outer frame grown by shortBy (width and height the workspace lacks) at
// its place, no further than the screen's available area reaches to its right and below it.
// It never shrinks.
[[nodiscard]] QRect GrownFrame(const QRect &frame, const QSize &shortBy, const QRect &available);

// A window's geometry inside a workspace of size room: its size cut to the room (never below
// minimum), then moved left and up as far as needed, but not past the workspace's top-left
// corner, to lie wholly inside.
[[nodiscard]] QRect PlacedInside(const QRect &window, const QSize &room, const QSize &minimum);

} // namespace clarow
