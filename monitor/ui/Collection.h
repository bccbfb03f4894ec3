#pragma once

#include "monitor/ScanCycle.h"
#include "monitor/ui/GridHost.h"

#include <QWidget>

class QLineEdit;

namespace clarow {

class FlexGrid;
class MonitorHost;

// The monitoring window: while it is open, data collection runs. It shows the status grid,
// the status box with the countdown and the progress of each scan, and the location name.
class Collection : public QWidget, public ScanView, public GridHost
{
    Q_OBJECT
public:
    explicit Collection(QWidget *parent = nullptr);
    ~Collection() override;

    [[nodiscard]] ScanCycle &cycle() { return m_cycle; }
    [[nodiscard]] const ScanCycle &cycle() const { return m_cycle; }

    // Rebuilds the status grid from table Sensors and fits the window around it.
    void BuildFgrid();

    // ScanView
    void showStatus(const QString &text) override;
    void buildGrid() override { BuildFgrid(); }
    void closeWindow() override;

    [[nodiscard]] FlexGrid *grid() const { return FlexGrid1; }
    // The window could not load (its grid or timer failed): it monitors nothing.
    [[nodiscard]] bool loadFailed() const { return m_loadFailed; }
    // The size the window opens with (grid, boxes and margins).
    [[nodiscard]] QSize sizeHint() const override { return m_loadSize; }

    // GridHost
    [[nodiscard]] QDateTime lastGoodRead() const override;
    [[nodiscard]] int mainInnerHeightTwips() const override;
    [[nodiscard]] int monitorInnerHeightTwips() const override;
    [[nodiscard]] bool windowsMinimized() const override;
    [[nodiscard]] bool windowsMaximized() const override;
    [[nodiscard]] bool programInFront() const override;
    void fitMonitor(std::optional<int> windowWidthTwips, std::optional<int> windowHeightTwips) override;
    void flashAndBeep() override;
    void showContextMenu(const QPoint &globalPos) override;
    void openView(int choice) override;
    [[nodiscard]] bool sensorOptionsEnabled() const override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    void placeWindow();
    // The frame the window lives in, when it has one.
    [[nodiscard]] MonitorHost *host() const;
    [[nodiscard]] QWidget *frame();
    void placeBoxes();
    void recordPlacement();

    ScanCycle m_cycle;
    bool m_loadFailed = false;
    FlexGrid *FlexGrid1 = nullptr;
    QLineEdit *StatusBx = nullptr;
    QLineEdit *clarowBx = nullptr;
    bool m_placed = false;
    QSize m_loadSize;
};

} // namespace clarow
