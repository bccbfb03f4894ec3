#pragma once

#include "views/LogData.h"

#include <QWidget>

class QDateTimeEdit;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;
class QHBoxLayout;

namespace clarow {

class LogGridModel;

// The log window: the stored readings of the selected sensor for a date range, in a grid,
// and their export to a comma- or tab-separated file.
class LogFrm : public QWidget
{
    Q_OBJECT
public:
    explicit LogFrm(QWidget *parent = nullptr);
    ~LogFrm() override;

    // Sets the order buttons, loads everything up to now and gives the window its size.
    void Form_Load();
    // Loads the selected sensor's readings with from <= time <= to into the shared data set
    // and shows them; a failure is shown and logged.
    LoadOutcome LoadLog(const QDateTime &from, const QDateTime &to);
    // Offers the save dialog (Cdlg1); the file is written when the user accepts it.
    void ExportBtn_Click();
    void RefreshBtn_Click();
    void GraphBtn_Click();
    void CloseBtn_Click();

    [[nodiscard]] QTableView *grid() const { return MSFlexGrid1; }
    [[nodiscard]] QFileDialog *exportDialog() const { return Cdlg1; }
    // The readings the window shows, and what its export writes.
    [[nodiscard]] const LogData &shown() const { return m_shown; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillFields();
    void fillGrid();
    void fitGridToFrame();
    void writeExport(const QString &path, const QString &filter);
    [[nodiscard]] QWidget *frame();

    // What the grid and the fields show: the readings of the last load that was shown, with
    // the sensor they were loaded for. The shared data set may since hold another sensor's
    // readings (a load that was not shown, the graph command).
    LogData m_shown;
    SensorKind m_kind; // of m_shown's sensor
    LogGridModel *m_model = nullptr;
    int m_normalWidth = 0; // the window's width in its normal state, in pixels
    int m_gridWidth = 0;   // the grid's width in the normal state

    QLineEdit *sIDbx = nullptr;
    QLineEdit *sLocBx = nullptr;
    QLineEdit *Llow = nullptr;
    QLineEdit *Lhigh = nullptr;
    QLineEdit *Hlow = nullptr;
    QLineEdit *Hhigh = nullptr;
    QLabel *hLabel = nullptr;
    QDateTimeEdit *StartDt = nullptr;
    QDateTimeEdit *EndDt = nullptr;
    QRadioButton *OptAsc = nullptr;
    QRadioButton *OptDesc = nullptr;
    QTableView *MSFlexGrid1 = nullptr;
    QHBoxLayout *m_gridRow = nullptr;
    QFileDialog *Cdlg1 = nullptr;
};

} // namespace clarow
