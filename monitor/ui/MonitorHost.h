#pragma once

class QPoint;
class QWidget;

namespace clarow {

// What the monitoring window asks of the frame it lives in: room, attention, the shared
// context menu and the other views. The main window implements it; a monitoring window on
// its own (in a test, or before the frame exists) has no host and does without.
class MonitorHost
{
public:
    virtual ~MonitorHost() = default;

    // The height in pixels of the area the monitoring window may fill.
    [[nodiscard]] virtual int workspaceHeight() const = 0;
    // The frame grows (within the screen) so that the monitoring window is seen whole.
    virtual void growToFit(QWidget *frame) = 0;
    // Draws the user's attention to the program (an alarm).
    virtual void flashForAlarm() = 0;
    virtual void popupContextMenu(const QPoint &globalPos) = 0;
    // Opens a view of the selected sensor: 1 its options, 2 its log, anything else its graph.
    virtual void openSensorView(int choice) = 0;
    // Whether the sensor options may be opened now (the menu item is enabled).
    [[nodiscard]] virtual bool sensorOptionsAvailable() const = 0;
};

} // namespace clarow
