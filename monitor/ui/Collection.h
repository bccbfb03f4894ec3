#pragma once

#include "monitor/ScanCycle.h"

#include <QWidget>

class QLineEdit;
class QTableView;

namespace clarow {

// The monitoring window: while it is open, data collection runs. It shows the status grid,
// the status box with the countdown and the progress of each scan, and the location name.
class Collection : public QWidget, public ScanView
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

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    void placeWindow();
    [[nodiscard]] int twipsToX(double twips) const;
    [[nodiscard]] int twipsToY(double twips) const;

    ScanCycle m_cycle;
    QTableView *FlexGrid1 = nullptr;
    QLineEdit *StatusBx = nullptr;
    QLineEdit *clarowBx = nullptr;
    bool m_placed = false;
};

} // namespace clarow
