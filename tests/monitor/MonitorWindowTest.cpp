// The monitoring window inside the real main window, as the operator sees it: whole at open,
// with and without sensors, maximized, at a first start, and opened again where it was left.
#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "TestHome.h"

#include "app/ui/MainMDI.h"
#include "core/Database.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/VirtualClock.h"
#include "monitor/ui/Collection.h"
#include "monitor/ui/FlexGrid.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QScreen>
#include <QSettings>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

void store(const QString &key, const QString &value)
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    s.setValue(QStringLiteral("ClarowMon/") + key, value);
    s.sync();
}

QString stored(const QString &key)
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    return s.value(QStringLiteral("ClarowMon/") + key).toString();
}

class MonitorWindow : public ::testing::Test
{
protected:
    // The main window as the start-up leaves it, with the monitoring window open and its
    // timer stopped, so the test alone decides what the grid lists.
    void open()
    {
        main = std::make_unique<MainMDI>();
        ASSERT_TRUE(main->startUp()); // no adapter: the "not found" box is answered
        main->dColl_Click();
        monitor = main->collection();
        ASSERT_NE(monitor, nullptr);
        monitor->cycle().stop();
        frame = qobject_cast<QMdiSubWindow *>(monitor->parentWidget());
        ASSERT_NE(frame, nullptr);
    }

    // Sensors read just now, so the grid lists them.
    void addSensors(int count, const QString &type = {})
    {
        for (int i = 0; i < count; ++i) {
            const QString id = QStringLiteral("%1A1B2C3D4E5F6%2")
                                   .arg(type.isEmpty() ? QStringLiteral("28") : QStringLiteral("26"))
                                   .arg(m_next++, 2, 16, QLatin1Char('0'))
                                   .toUpper()
                               + (type.isEmpty() ? QString() : QLatin1Char(' ') + type);
            Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, cCh2, LastR, InAlarm, Connected, "
                                "AlType) VALUES (?, 'Room', 21, 40, ?, 0, 1, 0)"),
                 {id, ToSerial(monitor->lastGoodRead())});
        }
    }

    // The status box and the grid lie inside the part of the window that shows.
    void expectWhole(const char *when)
    {
        auto *status = monitor->findChild<QLineEdit *>(QStringLiteral("StatusBx"));
        const QRect inside = monitor->rect();
        EXPECT_TRUE(inside.contains(status->geometry())) << when;
        EXPECT_TRUE(inside.contains(monitor->grid()->geometry())) << when;
        EXPECT_GE(frame->height(), monitor->height()) << when;
    }

    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
    std::unique_ptr<MainMDI> main;
    Collection *monitor = nullptr;
    QMdiSubWindow *frame = nullptr;
    int m_next = 0;
};

} // namespace

TEST_F(MonitorWindow, OpensWholeAndStaysWholeWithAndWithoutSensors)
{
    open();
    expectWhole("at open");
    EXPECT_GT(monitor->height(), monitor->grid()->geometry().bottom());

    monitor->BuildFgrid();
    expectWhole("after an empty rebuild");

    addSensors(3);
    monitor->BuildFgrid();
    expectWhole("with three sensors");
    EXPECT_EQ(monitor->grid()->model()->rowCount(), 3);
    EXPECT_EQ(monitor->grid()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    Exec(QStringLiteral("DELETE FROM Sensors"));
    monitor->BuildFgrid();
    expectWhole("after the sensors went");
}

TEST_F(MonitorWindow, MaximizedKeepsItsSizeAndScrollsTheRowsThatDoNotFit)
{
    open();
    frame->showMaximized();
    const QSize maximized = frame->size();
    addSensors(40);
    monitor->BuildFgrid();
    monitor->BuildFgrid();

    EXPECT_EQ(frame->size(), maximized);
    FlexGrid *grid = monitor->grid();
    EXPECT_EQ(grid->model()->rowCount(), 40);
    EXPECT_LE(grid->geometry().bottom(), monitor->height());
    EXPECT_EQ(grid->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_GT(grid->verticalScrollBar()->maximum(), 0);

    // Back to normal, the window fits its grid again by the rules of a normal window.
    frame->showNormal();
    QCoreApplication::processEvents();
    EXPECT_NE(frame->size(), maximized);
    expectWhole("restored");
}

TEST_F(MonitorWindow, FirstStartGrowsTheMainWindowToShowTheMonitorWholeButNotAUsersSize)
{
    open();
    addSensors(1, QStringLiteral("19"));
    addSensors(1, QStringLiteral("1A"));
    addSensors(1, QStringLiteral("1B"));
    addSensors(1, QStringLiteral("1C"));
    addSensors(1, QStringLiteral("1D"));
    monitor->BuildFgrid();

    const QSize room = main->mdiArea()->viewport()->size();
    const QSize screen = main->screen()->availableGeometry().size();
    if (frame->width() <= screen.width() - (main->width() - room.width()))
        EXPECT_GE(room.width(), frame->geometry().right() + 1);
    else
        // As wide as the screen allows: the window keeps its place and reaches the right edge
        // (it never shrinks, so one that already went past it stays so).
        EXPECT_GE(main->frameGeometry().right(), main->screen()->availableGeometry().right());
    const QSize grown = main->size();
    main->close();
    main.reset();

    // A size the user gave is kept as it is.
    resetProgram();
    store(QStringLiteral("MdiWidth"), QStringLiteral("6000"));
    store(QStringLiteral("MdiHeight"), QStringLiteral("5000"));
    open();
    addSensors(1, QStringLiteral("1E"));
    monitor->BuildFgrid();
    EXPECT_EQ(main->size(), QSize(400, 333));
    EXPECT_NE(main->size(), grown);
}

TEST_F(MonitorWindow, WindowsOpenWhereTheUserLeftThem)
{
    open();
    main->move(150, 120);
    main->resize(700, 520);
    frame->move(40, 30);
    main->close();
    main.reset();
    EXPECT_EQ(stored(QStringLiteral("MdiLeft")), QStringLiteral("2250"));
    EXPECT_EQ(stored(QStringLiteral("MdiTop")), QStringLiteral("1800"));
    EXPECT_EQ(stored(QStringLiteral("MdiWidth")), QStringLiteral("10500"));
    EXPECT_EQ(stored(QStringLiteral("MdiHeight")), QStringLiteral("7800"));
    EXPECT_EQ(stored(QStringLiteral("CfLeft")), QStringLiteral("600"));
    EXPECT_EQ(stored(QStringLiteral("CfTop")), QStringLiteral("450"));

    resetProgram();
    open();
    EXPECT_EQ(main->pos(), QPoint(150, 120));
    EXPECT_EQ(main->size(), QSize(700, 520));
    EXPECT_EQ(frame->pos(), QPoint(40, 30));

    // Left where it opened, a stored value that does not fall on a whole pixel stays as it was.
    main->close();
    main.reset();
    store(QStringLiteral("MdiLeft"), QStringLiteral("1001"));
    resetProgram();
    open();
    main->close();
    EXPECT_EQ(stored(QStringLiteral("MdiLeft")), QStringLiteral("1001"));
}
