#pragma once

#include "core/ui/Workspace.h"
#include "monitor/ui/MonitorHost.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QAction;

namespace clarow {

class Collection;
class SerialPort;

// The frame window of clarow: every other window opens inside it. It owns the one serial
// port of the program, carries the menus, and runs the start-up and the close-down.
class MainMDI : public QMainWindow, public Workspace, public MonitorHost
{
    Q_OBJECT
public:
    explicit MainMDI(QWidget *parent = nullptr);
    ~MainMDI() override;

    // The start-up sequence: settings, database, placement, adapter discovery, then the
    // monitoring window or the "Varnex not found" message. False when it failed (the
    // "Error loading Clarow" box has been shown) or was cut short by a close request.
    bool startUp();

    [[nodiscard]] bool loaded() const { return m_loaded; }
    // The start-up failed ("Error loading Clarow"): the program ends.
    [[nodiscard]] bool failed() const { return m_failed; }
    [[nodiscard]] Collection *collection() const;
    [[nodiscard]] QMdiArea *mdiArea() const { return m_mdi; }
    [[nodiscard]] QMenu *contextMenu() const { return m_contextMi; }

    // Flashes the task-bar button to draw the user's attention.
    void FlashWindow(int count);

    // Opens the monitoring window (or brings it to the front).
    void dColl_Click();
    // Opens the firmware update window (or brings it to the front): the adapter's firmware is
    // too old for data collection.
    void openUpdCode();
    void GraphContMi_Click();
    void LogContMi_Click();
    // The data log view and the graph of the selected sensor.
    void LogMi_Click();
    void GraphMi_Click();
    void SensorContMi_Click();
    // Opens the Options dialog (or brings it to the front).
    void OptionsMi_Click();
    // Opens the sensor options on the sensor selected now, closing one already open.
    void SensorsMi_Click();
    // Closes down as "E&xit" does; used for SIGTERM, SIGINT and a desktop log-out as well.
    void requestShutdown();

    // A window just opened in the workspace is seen whole: the main window grows to its size
    // as growToFit does, and where that is not enough (the user sized the main window, or the
    // screen is too small) the window is moved and cut to the workspace.
    void placeInWorkspace(QWidget *frame) override;

    // MonitorHost
    [[nodiscard]] int workspaceHeight() const override;
    // While the main window has the size the program chose at a first start, it grows
    // (within the screen) so that the child window in its workspace is seen whole.
    void growToFit(QWidget *child) override;
    void flashForAlarm() override;
    void popupContextMenu(const QPoint &globalPos) override;
    void openSensorView(int choice) override;
    [[nodiscard]] bool sensorOptionsAvailable() const override;

Q_SIGNALS:
    // Emitted once the close-down has run (state reset, positions saved, database closed).
    void closedDown();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Grows the main window by what the workspace lacks, while it has the chosen size.
    void grow(const QSize &shortBy);
    void buildMenus();
    void openAbout();
    void placeFromSettings();
    void recordPlacement();
    [[nodiscard]] bool scanInProgress() const;
    void rebuildGrid();

    std::unique_ptr<SerialPort> m_port;
    QMdiArea *m_mdi = nullptr;
    QPointer<QMdiSubWindow> m_collectionWindow;
    QPointer<QMdiSubWindow> m_optionsWindow;
    QPointer<QMdiSubWindow> m_sensorOptionsWindow;
    QPointer<QMdiSubWindow> m_updCodeWindow;
    QMenu *m_contextMi = nullptr;
    bool m_loaded = false;
    bool m_starting = false;
    bool m_closeRequested = false;
    bool m_closedDown = false;
    bool m_failed = false;
    QSize m_chosenSize; // the size the program gave the window; empty once the user resized it
};

} // namespace clarow
