#pragma once

#include "views/LogData.h"

#include <QWidget>

class QAction;
class QCheckBox;
class QGraphicsSimpleTextItem;
class QTimer;
class QToolBar;

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QDateTimeAxis;
class QValueAxis;
QT_END_NAMESPACE

namespace clarow {

// The graph window: the loaded readings as a time chart with their limits, four boxes that
// switch curves and limit lines on and off, and a toolbar to print, copy and close.
class FullGraph : public QWidget
{
    Q_OBJECT
public:
    explicit FullGraph(QWidget *parent = nullptr);
    ~FullGraph() override;

    // First set-up: caption, the remembered position and size (at least 7000 by 5000 twips).
    void Form_Load();
    // Draws the shared data set; the window keeps its own copy of it, so a later redraw (a
    // check box) draws the same sensor's readings whatever has been loaded since.
    void LoadGraph();
    // One tick of the re-layout timer.
    void Timer1_Timer();

    [[nodiscard]] QChart *chart() const { return m_chart; }
    [[nodiscard]] QChartView *chartView() const { return Chart2D1; }
    [[nodiscard]] QString footerText() const;
    [[nodiscard]] bool graphReady() const { return m_graphReady; }
    [[nodiscard]] bool layoutDone() const { return m_layoutDone; }
    [[nodiscard]] bool copied() const { return m_copied; }

    // The toolbar's buttons.
    void printChart();
    void copyChart();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void checkBoxToggled(bool *hideFlag, QCheckBox *box);
    void draw();
    void layOut();
    void unload();

    QToolBar *Toolbar1 = nullptr;
    QCheckBox *ChkPlot = nullptr;
    QCheckBox *ChkAlarm = nullptr;
    QCheckBox *ChkCh2plot = nullptr;
    QCheckBox *ChkCh2limits = nullptr;
    QChartView *Chart2D1 = nullptr;
    QChart *m_chart = nullptr;
    QDateTimeAxis *m_axisX = nullptr;
    QValueAxis *m_axisY = nullptr;
    QValueAxis *m_axisY2 = nullptr;
    QGraphicsSimpleTextItem *m_footer = nullptr;
    QTimer *Timer1 = nullptr;
    LogData m_data; // what the graph draws

    bool m_graphReady = false;
    bool m_setUp = false;
    bool m_copied = false;
    bool m_layoutDone = true;
    int m_layoutTicks = 4;
};

} // namespace clarow
