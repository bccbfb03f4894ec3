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
    // and shows them.
    void LoadLog(const QDateTime &from, const QDateTime &to);
    // Offers the save dialog (Cdlg1); the file is written when the user accepts it.
    void ExportBtn_Click();
    void RefreshBtn_Click();
    void GraphBtn_Click();
    void CloseBtn_Click();

    [[nodiscard]] QTableView *grid() const { return MSFlexGrid1; }
    [[nodiscard]] QFileDialog *exportDialog() const { return Cdlg1; }

private:
    void fillFields();
    void fillGrid();
    void writeExport(const QString &path, const QString &filter);
    [[nodiscard]] QWidget *frame();

    SensorKind m_kind; // of the sensor at the last load
    LogGridModel *m_model = nullptr;

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
