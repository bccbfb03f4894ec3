#include "views/ui/FullGraph.h"

#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "core/ui/Fields.h"
#include "views/GraphPlan.h"
#include "views/ui/ViewWindows.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMdiSubWindow>
#include <QSignalBlocker>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

namespace clarow {

namespace {

constexpr int kMinWidthTwips = 7000;
constexpr int kMinHeightTwips = 5000;
constexpr int kTimerMs = 100;
constexpr int kLayoutTicks = 4;

// Runs a handler of the window; an unexpected error ends it with the shared error message.
template <class F>
void Guarded(F &&f)
{
    try {
        f();
    } catch (const ClarowError &e) {
        ShowError(e.number(), e.description());
    } catch (const std::exception &e) {
        ShowError(kErrDatabase, QString::fromLocal8Bit(e.what()));
    }
}

} // namespace

FullGraph::FullGraph(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FullGraph"));
    setWindowTitle(QStringLiteral("Graph"));

    auto *top = new QVBoxLayout(this);
    Toolbar1 = new QToolBar(this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto action = [this](const char *name, const QString &caption) {
        QAction *a = Toolbar1->addAction(caption);
        a->setObjectName(QLatin1String(name));
        a->setToolTip(QString());
        return a;
    };
    connect(action("PrintBtn", QStringLiteral("&Print")), &QAction::triggered, this, [this] { Guarded([this] { printChart(); }); });
    Toolbar1->addSeparator();
    connect(action("CopyBtn", QStringLiteral("&Copy")), &QAction::triggered, this, [this] { Guarded([this] { copyChart(); }); });
    action("SpareBtn", QString())->setVisible(false);
    Toolbar1->addSeparator();
    connect(action("CloseBtn", QStringLiteral("&Close")), &QAction::triggered, this,
            [this] { Guarded([this] { FrameOf(this)->close(); }); });
    top->addWidget(Toolbar1);

    auto *boxes = new QHBoxLayout;
    auto box = [boxes](const char *name, const QString &caption) {
        QCheckBox *b = NewCheck(nullptr, name, caption);
        b->setAccessibleName(caption);
        boxes->addWidget(b);
        return b;
    };
    ChkPlot = box("ChkPlot", QStringLiteral("Temperature plot"));
    ChkAlarm = box("ChkAlarm", QStringLiteral("Temperature limits"));
    ChkCh2plot = box("ChkCh2plot", QStringLiteral("Humidity plot"));
    ChkCh2limits = box("ChkCh2limits", QStringLiteral("Humidity limits"));
    boxes->addStretch(1);
    top->addLayout(boxes);
    // Any change of a box by the user counts: a click, the keyboard, or the toggle action of
    // assistive technology. The drawing sets the boxes with their signals blocked.
    ViewFlags &f = viewFlags();
    connect(ChkPlot, &QCheckBox::toggled, this, [this, &f] { checkBoxToggled(&f.HideTempPlot, ChkPlot); });
    connect(ChkAlarm, &QCheckBox::toggled, this, [this, &f] { checkBoxToggled(&f.HideTempLimits, ChkAlarm); });
    connect(ChkCh2plot, &QCheckBox::toggled, this, [this, &f] { checkBoxToggled(&f.HideCh2Plot, ChkCh2plot); });
    connect(ChkCh2limits, &QCheckBox::toggled, this,
            [this, &f] { checkBoxToggled(&f.HideCh2Limits, ChkCh2limits); });

    m_chart = new QChart;
    m_chart->legend()->setVisible(true);
    m_chart->legend()->setAlignment(Qt::AlignRight);
    m_axisX = new QDateTimeAxis;
    m_axisY = new QValueAxis;
    m_axisY2 = new QValueAxis;
    m_chart->addAxis(m_axisX, Qt::AlignBottom);
    m_chart->addAxis(m_axisY, Qt::AlignLeft);
    m_chart->addAxis(m_axisY2, Qt::AlignRight);
    // The right-hand axis names the second channel; both share one scale.
    connect(m_axisY, &QValueAxis::rangeChanged, m_axisY2, [this](qreal lo, qreal hi) { m_axisY2->setRange(lo, hi); });
    m_footer = new QGraphicsSimpleTextItem(m_chart);
    Chart2D1 = new QChartView(m_chart);
    Chart2D1->setObjectName(QStringLiteral("Chart2D1"));
    Chart2D1->setRenderHint(QPainter::Antialiasing);
    Chart2D1->setAccessibleName(QStringLiteral("Graph"));
    top->addWidget(Chart2D1, 1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerMs);
    connect(Timer1, &QTimer::timeout, this, &FullGraph::Timer1_Timer);
}

FullGraph::~FullGraph() = default;

QString FullGraph::footerText() const { return m_footer->text(); }

void FullGraph::Form_Load()
{
    if (m_setUp)
        return;
    Guarded([this] {
        m_setUp = true;
        Chart2D1->hide();
        m_layoutTicks = kLayoutTicks;
        m_copied = false;
        setWindowTitle(QStringLiteral("Graph"));
        Settings &s = program().settings;
        s.GrWidth = std::max(s.GrWidth, kMinWidthTwips);
        s.GrHeight = std::max(s.GrHeight, kMinHeightTwips);
        QWidget *frame = FrameOf(this);
        frame->showNormal();
        frame->move(TwipsToPixelsX(s.RpLeft), TwipsToPixelsY(s.RpTop));
        frame->resize(TwipsToPixelsX(s.GrWidth), TwipsToPixelsY(s.GrHeight));
        m_graphReady = true;
        Timer1->start();
    });
}

void FullGraph::checkBoxToggled(bool *hideFlag, QCheckBox *box)
{
    *hideFlag = !box->isChecked();
    if (m_graphReady)
        draw();
}

void FullGraph::unload() { FrameOf(this)->close(); }

void FullGraph::LoadGraph()
{
    const LogData &data = logData();
    if (data.RecCount < 3) {
        unload();
        MsgBox(QStringLiteral("There is no data to show"), QStringLiteral("No data"));
        return;
    }
    if (!m_graphReady)
        return;
    m_data = data;
    draw();
}

void FullGraph::draw()
{
    if (m_data.RecCount < 3 || !m_graphReady)
        return;
    m_graphReady = false;
    const GraphPlan g = PlanGraph(m_data, m_data.SensorId, viewFlags(), program().settings, MonthFirst());
    const QSignalBlocker plotBlock(ChkPlot), alarmBlock(ChkAlarm), ch2PlotBlock(ChkCh2plot),
        ch2LimitsBlock(ChkCh2limits);
    if (!g.channel.present)
        ChkPlot->setChecked(true);
    if (g.neitherSelected) {
        MsgBox(NeitherPlotText(g.channel.name), QStringLiteral("Neither plot selected"));
        m_graphReady = true;
        return;
    }

    ChkPlot->setChecked(g.plotChecked);
    ChkAlarm->setChecked(g.alarmChecked);
    ChkCh2plot->setEnabled(g.ch2Enabled);
    ChkCh2limits->setEnabled(g.ch2Enabled);
    ChkCh2plot->setChecked(g.ch2PlotChecked);
    ChkCh2limits->setChecked(g.ch2LimitsChecked);
    if (g.channel.present) {
        ChkCh2plot->setText(g.ch2PlotCaption);
        ChkCh2limits->setText(g.ch2LimitsCaption);
        ChkCh2plot->setAccessibleName(g.ch2PlotCaption);
        ChkCh2limits->setAccessibleName(g.ch2LimitsCaption);
    }

    if (g.truncated) {
        MsgBox(QStringLiteral("This graph is unable to display more than\r8192 records. Only the first "
                              "8192 records\rwill be shown."),
               QStringLiteral("Too many records"));
    }

    BusyPointer busy;
    Chart2D1->setUpdatesEnabled(false);
    m_chart->removeAllSeries();
    m_chart->setTitle(g.header);
    m_footer->setText(g.footer);
    m_axisX->setFormat(g.timeAxis.format);
    m_axisX->setTitleText(g.timeAxis.title);
    m_axisX->setRange(g.first, g.last > g.first ? g.last : g.first.addSecs(1));
    m_axisY->setRange(g.range.lo, g.range.hi);
    // A grid line every 10 (or every whole number on a small range) where that stays readable.
    const int span = static_cast<int>(g.range.hi - g.range.lo);
    const int step = span > 10 ? 10 : 1;
    const int ticks = span / step + 1;
    m_axisY->setTickCount(span % step == 0 && ticks <= 11 ? ticks : 5);
    m_axisY->setLabelFormat(QStringLiteral("%g"));
    m_axisY2->setTickCount(m_axisY->tickCount());
    m_axisY2->setLabelFormat(QStringLiteral("%g"));
    m_axisY->setTitleText(g.yTitle);
    m_axisY2->setTitleText(g.y2Title);
    for (int i = 0; i < g.seriesCount; ++i) {
        const GraphPlan::Line &line = g.lines[static_cast<size_t>(i)];
        auto *series = new QLineSeries;
        series->setName(line.label);
        QPen pen = series->pen();
        pen.setColor(QColor::fromRgb(StoredColourToRgb(line.colour)));
        pen.setWidth(2);
        series->setPen(pen);
        series->replace(line.points);
        m_chart->addSeries(series);
        series->attachAxis(m_axisX);
        series->attachAxis(m_axisY);
        series->setVisible(line.shown);
        for (QLegendMarker *marker : m_chart->legend()->markers(series))
            marker->setVisible(line.shown);
    }
    ChkAlarm->setEnabled(g.alarmEnabled);
    ChkCh2limits->setEnabled(g.ch2LimitsEnabled);
    QApplication::beep();

    layOut();
    Chart2D1->setUpdatesEnabled(true);
    Chart2D1->show();
    m_graphReady = true;
}

void FullGraph::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_layoutTicks = 0;
    m_layoutDone = false;
}

void FullGraph::Timer1_Timer()
{
    if (m_layoutTicks < kLayoutTicks) {
        ++m_layoutTicks;
        return;
    }
    if (!m_layoutDone)
        layOut();
}

void FullGraph::layOut()
{
    // The footer sits in the chart's bottom margin, below the time axis.
    const QRectF area = m_chart->geometry();
    const qreal footerHeight = m_footer->boundingRect().height();
    QMargins margins = m_chart->margins();
    margins.setBottom(static_cast<int>(footerHeight) + 12);
    m_chart->setMargins(margins);
    m_footer->setPos(area.left() + 16, area.bottom() - footerHeight - 12);
    m_layoutDone = true;
}

void FullGraph::printChart()
{
    QPrinter printer;
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter(&printer);
    Chart2D1->render(&painter);
}

void FullGraph::copyChart()
{
    QGuiApplication::clipboard()->setPixmap(Chart2D1->grab());
    m_copied = true;
}

void FullGraph::closeEvent(QCloseEvent *event)
{
    Guarded([this] {
        QWidget *frame = FrameOf(this);
        if (!frame->isMinimized() && !frame->isMaximized()) {
            Settings &s = program().settings;
            s.GrWidth = qRound(frame->width() * TwipsPerPixelX());
            s.GrHeight = qRound(frame->height() * TwipsPerPixelY());
            s.RpTop = qRound(frame->y() * TwipsPerPixelY());
            s.RpLeft = qRound(frame->x() * TwipsPerPixelX());
        }
        if (m_copied
            && MsgBox(QStringLiteral("You have copied the graph to the clipboard."),
                      QStringLiteral("Clear clipboard"), Buttons::YesNo, Icon::Question)
                == Answer::Yes)
            QGuiApplication::clipboard()->clear();
    });
    m_graphReady = false;
    Timer1->stop();
    event->accept();
}

} // namespace clarow
