#include "History.h"
#include "ScriptedPrompter.h"
#include "TestHome.h"

#include "app/ui/MainMDI.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "views/GraphPlan.h"
#include "views/ui/FullGraph.h"
#include "views/ui/LogFrm.h"
#include "views/ui/ViewWindows.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kTemp = QStringLiteral("28000000000ABCD5");
const QString kHumidity = QStringLiteral("2600000000000A19 19");

class GraphView : public ::testing::Test
{
protected:
    GraphView()
    {
        LoadOptions();
        resetViews();
        program().settings.DispHours = 48;
        area.resize(1200, 900);
        area.show();
    }
    ~GraphView() override { resetViews(); }

    // count readings of id ending a minute ago, 15 seconds apart, the last one at top.
    void readings(const QString &id, int count, double top = 25)
    {
        SensorRow row;
        row.id = id;
        AddSensor(home.databasePath(), row);
        const QDateTime start = Now().addSecs(-60 - 15LL * (count - 1));
        AddReadings(home.databasePath(), id, start, count, 15,
                    [count, top](int i) { return i == count - 1 ? top : 5.0 + i % 10; },
                    id.size() > 16 ? std::function<double(int)>([](int) { return 45.0; })
                                   : std::function<double(int)>());
        program().selectedSensor = id;
    }
    // Loaded readings of a sensor, without the database.
    void loaded(const QString &id, int count)
    {
        LogData &d = logData();
        d = LogData();
        d.TempLo = 2;
        d.TempHi = 8;
        d.Ch2Lo = 30;
        d.Ch2Hi = 70;
        d.RecCount = count;
        d.SensorId = id;
        for (int i = 0; i < count; ++i)
            d.Points.push_back({ToSerial(QDateTime(QDate(2026, 12, 6), QTime(8, i))), 4.0f + i, 50.0f});
        program().selectedSensor = id;
    }
    FullGraph *graph() const { return FindGraphWindow(const_cast<QMdiArea *>(&area)); }
    QList<QLineSeries *> series() const
    {
        QList<QLineSeries *> list;
        for (QAbstractSeries *s : graph()->chart()->series())
            list << static_cast<QLineSeries *>(s);
        return list;
    }
    QValueAxis *yAxis() const
    {
        return static_cast<QValueAxis *>(graph()->chart()->axes(Qt::Vertical).at(0));
    }
    QCheckBox *box(const char *name) const { return graph()->findChild<QCheckBox *>(QLatin1String(name)); }

    TestHome home;
    ScriptedPrompter boxes;
    QMdiArea area;
};

} // namespace

TEST_F(GraphView, GraphCommandDrawsThreeToEightThousandPoints)
{
    struct Case
    {
        int readings;
        QStringList titles;
        int points; // 0: no window
    } cases[] = {
        {2, {QStringLiteral("No data")}, 0},
        {3, {}, 3},
        {8193, {QStringLiteral("Too many records")}, 8192},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.readings);
        boxes.boxes.clear();
        readings(QStringLiteral("28000000000000%1").arg(++n, 2, 10, QLatin1Char('0')), c.readings, 30.02);
        OpenGraphView(&area);
        EXPECT_EQ(boxes.titles(), c.titles);
        EXPECT_EQ(logData().RecCount, c.readings);
        if (c.points == 0) {
            EXPECT_EQ(graph(), nullptr);
            EXPECT_EQ(boxes.boxes.at(0).text, QStringLiteral("There is no data to show"));
            continue;
        }
        ASSERT_NE(graph(), nullptr);
        ASSERT_EQ(series().size(), 3);
        EXPECT_EQ(series().at(0)->count(), c.points);
        EXPECT_EQ(series().at(0)->name(), QStringLiteral("Temperature"));
        EXPECT_EQ(series().at(1)->name(), QStringLiteral("Low temp. limit"));
        EXPECT_EQ(series().at(2)->name(), QStringLiteral("High temp. limit"));
        EXPECT_EQ(series().at(0)->pen().color(), QColor(0xE2, 0x2B, 0x8A)); // ColGrTp &H8A2BE2
        EXPECT_EQ(yAxis()->min(), 0);
        EXPECT_EQ(yAxis()->max(), c.points == 3 ? 40 : 20); // the 8193rd reading tops 30.02
        EXPECT_EQ(yAxis()->titleText(), QStringLiteral("Temperature (\u00B0C)"));
        EXPECT_EQ(graph()->footerText(), QStringLiteral("Sensor: ") + program().selectedSensor
                                             + QStringLiteral("\r\nLocation: Cold store"));
    }
    // One graph window at a time.
    EXPECT_EQ(area.subWindowList().size(), 1);
}

TEST(GraphPlanRules, TimeAxisTitleAndFormat)
{
    const QDate day(2026, 12, 6);
    struct Case
    {
        QDateTime first, last;
        bool monthFirst;
        const char *title;
        const char *format;
    } cases[] = {
        {{day, QTime(8, 0)}, {day, QTime(17, 0)}, false, "06/12/2026", "HH:mm"},
        {{day, QTime(22, 0)}, {day.addDays(1), QTime(6, 0)}, false, "06/12/2026 to 07/12/2026", "HH:mm"},
        {{QDate(2026, 12, 1), QTime(0, 0)}, {day, QTime(0, 0)}, false, "December, 2026", "MMM dd, HH:mm"},
        {{QDate(2026, 12, 1), QTime(0, 0)}, {QDate(2026, 12, 21), QTime(0, 0)}, false, "December, 2026", "dd"},
        {{QDate(2026, 1, 10), QTime(0, 0)}, {QDate(2026, 2, 19), QTime(0, 0)}, false, "2026", "dd/MM"},
        {{QDate(2026, 1, 10), QTime(0, 0)}, {QDate(2026, 2, 19), QTime(0, 0)}, true, "2026", "MM/dd"},
        {{QDate(2025, 12, 10), QTime(0, 0)}, {QDate(2026, 1, 19), QTime(0, 0)}, true, "", "MM/dd/yy"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.title);
        const TimeAxisText t = TimeAxisFor(c.first, c.last, QStringLiteral("dd/MM/yyyy"), c.monthFirst, QLocale::c());
        EXPECT_EQ(t.title, QLatin1String(c.title));
        EXPECT_EQ(t.format, QLatin1String(c.format));
    }
    EXPECT_TRUE(MonthFirst(QLocale(QLocale::English, QLocale::UnitedStates)));
    EXPECT_FALSE(MonthFirst(QLocale(QLocale::English, QLocale::UnitedKingdom)));
}

TEST(GraphPlanRules, AxisBoundsGoToWholeSteps)
{
    struct Case
    {
        double lo, hi, wantLo, wantHi;
    } cases[] = {
        {0, 29.99f, 0, 30}, {0, 30.005f, 0, 30}, {0, 30.02f, 0, 40}, {0, 20, 0, 20},
        {5, 7.2f, 0, 8},    {-0.5f, 5, -10, 6},  {-3, 23.4f, -10, 30}, {-10, 0, -10, 1},
    };
    for (const Case &c : cases) {
        const AxisRange r = WholeStepRange(c.lo, c.hi);
        EXPECT_EQ(r.lo, c.wantLo) << c.lo;
        EXPECT_EQ(r.hi, c.wantHi) << c.hi;
    }
}

TEST_F(GraphView, TemperatureOnlySensorIgnoresAStaleHideFlag)
{
    viewFlags().HideTempPlot = true;
    loaded(kTemp, 5);
    GraphWindow(&area)->LoadGraph();
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_FALSE(viewFlags().HideTempPlot);
    EXPECT_TRUE(box("ChkPlot")->isChecked());
    EXPECT_FALSE(box("ChkCh2plot")->isEnabled());
    ASSERT_EQ(series().size(), 3);
    EXPECT_TRUE(series().at(0)->isVisible());
}

TEST_F(GraphView, SecondChannelBoxesRedrawAndNeitherPlotKeepsTheDrawing)
{
    loaded(kHumidity, 5);
    GraphWindow(&area)->LoadGraph();
    ASSERT_EQ(series().size(), 6);
    EXPECT_EQ(series().at(3)->name(), QStringLiteral("Humidity level"));
    EXPECT_EQ(series().at(5)->name(), QStringLiteral("High Humidity limit"));
    EXPECT_EQ(box("ChkCh2limits")->text(), QStringLiteral("Humidity limits"));
    EXPECT_EQ(yAxis()->max(), 70);
    EXPECT_EQ(static_cast<QValueAxis *>(graph()->chart()->axes(Qt::Vertical).at(1))->titleText(),
              QStringLiteral("Humidity %"));

    box("ChkPlot")->click();
    EXPECT_TRUE(viewFlags().HideTempPlot);
    EXPECT_FALSE(series().at(0)->isVisible());
    EXPECT_TRUE(series().at(3)->isVisible());
    EXPECT_EQ(yAxis()->titleText(), QStringLiteral("Humidity %"));
    EXPECT_FALSE(box("ChkAlarm")->isEnabled());

    box("ChkCh2plot")->click();
    EXPECT_EQ(boxes.titles(), QStringList{QStringLiteral("Neither plot selected")});
    EXPECT_EQ(boxes.boxes.at(0).text, QStringLiteral("Please select either Temperature or \rHumidity to display."));
    ASSERT_EQ(series().size(), 6);
    EXPECT_TRUE(series().at(3)->isVisible());
    EXPECT_TRUE(graph()->graphReady());
}

TEST_F(GraphView, CopyAsksToClearTheClipboardAndThePlaceIsRemembered)
{
    loaded(kTemp, 4);
    FullGraph *g = GraphWindow(&area);
    g->LoadGraph();
    QWidget *frame = FrameOf(g);
    EXPECT_GE(frame->width(), TwipsToPixelsX(8000) - 1); // the stored default width

    frame->resize(TwipsToPixelsX(9000), TwipsToPixelsY(6000));
    EXPECT_FALSE(g->layoutDone());
    for (int i = 0; i < 5; ++i)
        g->Timer1_Timer();
    EXPECT_TRUE(g->layoutDone());

    g->findChild<QAction *>(QStringLiteral("CopyBtn"))->trigger();
    EXPECT_FALSE(QGuiApplication::clipboard()->pixmap().isNull());
    boxes.answers = {Answer::Yes};
    g->findChild<QAction *>(QStringLiteral("CloseBtn"))->trigger();
    EXPECT_EQ(boxes.titles(), QStringList{QStringLiteral("Clear clipboard")});
    EXPECT_TRUE(QGuiApplication::clipboard()->pixmap().isNull());
    EXPECT_NEAR(program().settings.GrWidth, 9000, 20);
    EXPECT_NEAR(program().settings.GrHeight, 6000, 20);
}

TEST_F(GraphView, MainWindowCommandsNeedASensorAndOpenEachViewOnce)
{
    MainMDI w;
    auto trigger = [&w](const char *name) { w.findChild<QAction *>(QLatin1String(name))->trigger(); };
    program().selectedSensor = QStringLiteral("28000000");
    trigger("LogMi");
    trigger("GraphMi");
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes.at(0).text,
              QStringLiteral("No sensor is selected. Please select a sensor\rfrom the list to view the data log."));
    EXPECT_EQ(boxes.boxes.at(1).text,
              QStringLiteral("No sensor is selected. Please select a sensor\rfrom the list to view the graph."));
    EXPECT_EQ(boxes.boxes.at(1).title, QStringLiteral("No sensor selected"));

    readings(kHumidity, 6);
    w.LogContMi_Click();
    EXPECT_EQ(program().lastViewChoice, 2);
    LogFrm *log = FindLogWindow(w.mdiArea());
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(logData().RecCount, 6);
    trigger("LogMi"); // already open: no reload
    EXPECT_EQ(w.mdiArea()->subWindowList().size(), 1);

    w.GraphContMi_Click();
    EXPECT_EQ(program().lastViewChoice, 0);
    ASSERT_NE(FindGraphWindow(w.mdiArea()), nullptr);
    EXPECT_EQ(w.mdiArea()->subWindowList().size(), 2);
    EXPECT_EQ(boxes.boxes.size(), 2);
}
