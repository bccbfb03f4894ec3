#pragma once

#include "link/SerialPort.h"
#include "retyper/TypeTool.h"

#include <QMainWindow>

#include <memory>

class QComboBox;
class QLabel;
class QPushButton;

namespace clarow::retyper {

// The tool's one window, "Multi sensor configuration": a port to scan, the multi-sensors
// found there, the type to give the chosen one, and a status line whose text is what a
// screen reader reads. The exchanges with the
// adapter and every decision are TypeTool's; the window shows, collects and delegates.
class SensorType final : public QMainWindow
{
    Q_OBJECT
public:
    explicit SensorType(QWidget *parent = nullptr);
    ~SensorType() override;

    // Fills the lists and scans the first port. False after an error that ends the program
    // (the box has been shown).
    bool load();

    [[nodiscard]] const TypeTool &tool() const { return m_tool; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void PortNoBx_Click();
    void ScanBtn_Click();
    void ApplyBtn_Click();
    void SensorListBx_Click();
    void SensorTypeBx_Click();
    void ExitBtn_Click();

    void showList(const QStringList &entries, int selected);
    void updateApply();
    void showPortDevice();
    // A close asked for during an exchange is carried out once the exchange has ended.
    void afterExchange();

    std::unique_ptr<SerialPort> m_MSCommStype;
    TypeTool m_tool;
    bool m_closePending = false;

    QLabel *m_label2 = nullptr;
    QComboBox *m_portNoBx = nullptr;
    QPushButton *m_scanBtn = nullptr;
    QLabel *m_sensorLabel = nullptr;
    QComboBox *m_sensorListBx = nullptr;
    QLabel *m_label1 = nullptr;
    QComboBox *m_sensorTypeBx = nullptr;
    QPushButton *m_applyBtn = nullptr;
    QPushButton *m_exitBtn = nullptr;
    QLabel *m_statusLabel = nullptr;
};

} // namespace clarow::retyper
