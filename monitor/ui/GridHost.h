#pragma once

#include <QDateTime>
#include <QPoint>

#include <optional>

namespace clarow {

// What the status grid needs from the windows around it: the monitoring window that holds
// it and the main window that holds both. Lengths in twips.
struct GridHost
{
    virtual ~GridHost() = default;
    // Time of the last complete adapter reading.
    [[nodiscard]] virtual QDateTime lastGoodRead() const = 0;
    // Inner height of the main window (the room the monitoring window may take).
    [[nodiscard]] virtual int mainInnerHeightTwips() const = 0;
    // Inner height of the monitoring window (the room its grid has while the window keeps the
    // size it has).
    [[nodiscard]] virtual int monitorInnerHeightTwips() const = 0;
    // The main window or the monitoring window is minimized; the monitoring window is
    // maximized. Either way the window keeps its size.
    [[nodiscard]] virtual bool windowsMinimized() const = 0;
    [[nodiscard]] virtual bool windowsMaximized() const = 0;
    // The main window is the active window of the desktop.
    [[nodiscard]] virtual bool programInFront() const = 0;
    // The grid has taken its new size: the monitoring window takes the given width and height,
    // where given, and the location box keeps its right edge on the grid's right edge.
    virtual void fitMonitor(std::optional<int> windowWidthTwips, std::optional<int> windowHeightTwips) = 0;
    // A sensor is in alarm while the program is not in front: flash the main window's
    // task-bar button 5 times and beep.
    virtual void flashAndBeep() = 0;
    // The context menu ("Sensor Options", "Log", "Graph") at a screen position.
    virtual void showContextMenu(const QPoint &globalPos) = 0;
    // Opens a view on the selected sensor as its context-menu item does: 0 graph,
    // 1 sensor options, 2 data log.
    virtual void openView(int choice) = 0;
    // The context menu's "Sensor Options" item is enabled.
    [[nodiscard]] virtual bool sensorOptionsEnabled() const = 0;
};

} // namespace clarow
