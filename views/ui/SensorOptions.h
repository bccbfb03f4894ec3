#pragma once

#include <QWidget>

#include <array>
#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace clarow {

// The Sensor Options window: the name, alarm limits and water choice of the sensor picked in
// the status grid, and its removal. It shows and collects; SensorEdit stores.
class SensorOptions : public QWidget
{
    Q_OBJECT
public:
    // Opens on the sensor selected now.
    explicit SensorOptions(QWidget *parent = nullptr);

    // Called on every close and after a delete, so the status grid shows the change.
    void setRebuildGrid(std::function<void()> rebuild) { m_rebuildGrid = std::move(rebuild); }

    [[nodiscard]] const QString &sensorId() const { return m_sensorId; }

    // Stores the typed values; false (after the retries) when the row could not be changed.
    bool SaveSensor();
    void ApplyBtn_Click();
    void ExitBtn_Click();
    void CancelBtn_Click();
    void DelBtn_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    // Saves; on failure says so. True when the row was updated.
    bool saveOrSay();
    void closeWindow();
    void rebuildGrid();

    QString m_sensorId;
    bool m_hasCh2 = false;
    bool m_hasWater = false;
    bool m_busy = false;       // a save or delete runs; its waits let events in
    bool m_closeAfter = false; // a close arrived meanwhile
    std::function<void()> m_rebuildGrid;

    QLabel *SerNoLabel = nullptr;
    QLineEdit *SerNoBx = nullptr;
    QLabel *SensorLocLabel = nullptr;
    QLineEdit *SensorLoc = nullptr;
    QLabel *AlarmLabel = nullptr;
    QLabel *LoLabel = nullptr;
    QLabel *HiLabel = nullptr;
    QLabel *Tlabel = nullptr;
    QLineEdit *Llow = nullptr;
    QLineEdit *Lhigh = nullptr;
    QLabel *hLabel = nullptr;
    QLineEdit *Hlow = nullptr;
    QLineEdit *Hhigh = nullptr;
    QGroupBox *WaterAfrm = nullptr;
    std::array<QRadioButton *, 2> WaterA{};
    QPushButton *ApplyBtn = nullptr;
    QPushButton *ExitBtn = nullptr;
    QPushButton *CancelBtn = nullptr;
    QPushButton *DelBtn = nullptr;
};

} // namespace clarow
