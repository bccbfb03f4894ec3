#include "monitor/StatusGrid.h"
#include "monitor/ui/FlexGrid.h"
#include "monitor/ui/GridHost.h"

#include "core/Database.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "support/ScriptedPrompter.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <memory>

using namespace clarow;

namespace {

const QDateTime kLastRead(QDate(2026, 3, 2), QTime(12, 0, 0));

// The windows around the grid, as far as the grid sees them.
struct TestHost final : GridHost
{
    QDateTime lastRead = kLastRead;
    int mainInner = 9000;
    int monitorInner = 6000;
    bool minimized = false;
    bool maximized = false;
    bool inFront = true;
    bool optionsEnabled = true;

    int fits = 0;
    std::optional<int> windowWidth;
    std::optional<int> windowHeight;
    int flashes = 0;
    int menus = 0;
    QList<int> views;

    QDateTime lastGoodRead() const override { return lastRead; }
    int mainInnerHeightTwips() const override { return mainInner; }
    int monitorInnerHeightTwips() const override { return monitorInner; }
    bool windowsMinimized() const override { return minimized; }
    bool windowsMaximized() const override { return maximized; }
    bool programInFront() const override { return inFront; }
    void fitMonitor(std::optional<int> width, std::optional<int> height) override
    {
        ++fits;
        windowWidth = width;
        windowHeight = height;
    }
    void flashAndBeep() override { ++flashes; }
    void showContextMenu(const QPoint &) override { ++menus; }
    void openView(int choice) override { views << choice; }
    bool sensorOptionsEnabled() const override { return optionsEnabled; }
};

class StatusGridTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings &s = program().settings;
        s.CorF = QStringLiteral("C");
        s.ColAlarm = 8421631;
        s.ColOK = 8454016;
        OpenDatabase();
        ASSERT_TRUE(DatabaseIsOpen());
        m_grid = std::make_unique<FlexGrid>(&m_host);
        m_grid->show();
    }

    struct Sensor
    {
        QString id;
        QString location = QStringLiteral("Room");
        double temp = 21.5;
        QVariant ch2 = {};
        int secondsBefore = 10; // read this long before the last complete reading
        bool inAlarm = false;
        bool connected = true;
        int alType = 0;
        QVariant water = {};
    };

    void Insert(const Sensor &s)
    {
        Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, cCh2, LastR, InAlarm, "
                            "Connected, AlType, wStatus) VALUES (?,?,?,?,?,?,?,?,?)"),
             {s.id, s.location, s.temp, s.ch2, ToSerial(kLastRead.addSecs(-s.secondsBefore)),
              s.inAlarm ? 1 : 0, s.connected ? 1 : 0, s.alType, s.water});
    }

    void Insert(const QString &id, const QString &location = QStringLiteral("Room"))
    {
        Sensor s;
        s.id = id;
        s.location = location;
        Insert(s);
    }

    [[nodiscard]] StatusGridModel &model() const { return *m_grid->gridModel(); }
    [[nodiscard]] QString Cell(int row, int column) const
    {
        return model().data(model().index(row, column), Qt::DisplayRole).toString();
    }
    [[nodiscard]] QStringList Ids() const
    {
        QStringList ids;
        for (int r = 0; r < model().rowCount(); ++r)
            ids << Cell(r, ColSensor);
        return ids;
    }
    [[nodiscard]] QFont HeaderFont(int column) const
    {
        return model().headerData(column, Qt::Horizontal, Qt::FontRole).value<QFont>();
    }

    static void Send(QWidget *target, QEvent::Type type, QPoint at, Qt::MouseButton button)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent e(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
        QApplication::sendEvent(target, &e);
    }
    void Click(QWidget *target, QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        Send(target, QEvent::MouseButtonPress, at, button);
        Send(target, QEvent::MouseButtonRelease, at, button);
    }
    // The middle of a header cell.
    void ClickHeader(int column, Qt::MouseButton button = Qt::LeftButton)
    {
        QHeaderView *h = m_grid->horizontalHeader();
        const int x = h->sectionViewportPosition(column) + h->sectionSize(column) / 2;
        Click(h->viewport(), QPoint(x, h->height() / 2), button);
    }
    void ClickRow(int row, Qt::MouseButton button = Qt::LeftButton)
    {
        Click(m_grid->viewport(), QPoint(20, m_grid->rowViewportPosition(row) + 3), button);
    }
    [[nodiscard]] int SelectedViewRow() const
    {
        const QModelIndexList rows = m_grid->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    }

    test::TestHome m_home;
    TestHost m_host;
    std::unique_ptr<FlexGrid> m_grid;
};

const QString kTemp = QStringLiteral("28A1B2C3D4E5F60A");
const QString kHumid = QStringLiteral("26A1B2C3D4E5F60B 19");
const QString kWaterHumid = QStringLiteral("26A1B2C3D4E5F60C 1E");

} // namespace

// --- What is listed ------------------------------------------------------------------------

TEST_F(StatusGridTest, RecentConnectedAndDisconnectedAlarm_AreListed_OthersNot)
{
    Sensor recent{.id = kTemp, .secondsBefore = 50}; // exactly at the limit
    Insert(recent);
    Insert({.id = QStringLiteral("28A1B2C3D4E5F6FF"), .secondsBefore = 51});
    Insert({.id = QStringLiteral("28A1B2C3D4E5F6EE"), .connected = false});
    Insert({.id = kHumid, .ch2 = 55.25, .secondsBefore = 3600, .inAlarm = true, .connected = false,
            .alType = 9});
    Insert({.id = QStringLiteral("26A1B2C3D4E5F6DD 19"), .secondsBefore = 3 * 3600, .inAlarm = true,
            .connected = false, .alType = 9});

    m_grid->BuildFgrid();

    ASSERT_EQ(Ids(), QStringList({kHumid, kTemp}));
    EXPECT_EQ(Cell(0, ColTemperature), "disconnected");
    for (int c = ColHumidity; c <= ColWater; ++c)
        EXPECT_EQ(Cell(0, c), "") << c;
    EXPECT_EQ(Cell(1, ColTemperature), "21.5");
    EXPECT_EQ(Cell(1, ColLocation), "Room");
    // The disconnected humidity sensor still makes its column visible.
    EXPECT_EQ(m_grid->columnWidthTwips(ColHumidity), kWidenedColumnTwips);
}

TEST_F(StatusGridTest, SecondChannelAndWater_InTheColumnOfTheirType)
{
    Insert({.id = kWaterHumid, .ch2 = 45.5, .water = 2});
    Insert({.id = QStringLiteral("26A1B2C3D4E5F60D 1B"), .ch2 = 12.0});
    Insert({.id = QStringLiteral("26A1B2C3D4E5F60E 1A"), .ch2 = 3.3});
    Insert({.id = QStringLiteral("26A1B2C3D4E5F60F 1C"), .ch2 = 0.7});
    Insert({.id = QStringLiteral("26A1B2C3D4E5F610 1D"), .water = 1});

    m_grid->BuildFgrid();

    ASSERT_EQ(model().rowCount(), 5);
    EXPECT_EQ(Cell(0, ColHumidity), "45.5");
    EXPECT_EQ(Cell(0, ColWater), "Wet");
    EXPECT_EQ(Cell(1, ColLight), "12");
    EXPECT_EQ(Cell(1, ColHumidity), "");
    EXPECT_EQ(Cell(2, ColAnalog), "3.3");
    EXPECT_EQ(Cell(3, ColCurrent), "0.7");
    EXPECT_EQ(Cell(4, ColWater), "Fault");
    EXPECT_EQ(Cell(4, ColHumidity), "");
    for (int c = ColHumidity; c <= ColWater; ++c)
        EXPECT_EQ(m_grid->columnWidthTwips(c), kWidenedColumnTwips) << c;
}

// --- Order -----------------------------------------------------------------------------------

TEST_F(StatusGridTest, AlarmsFirst_ThenIdentifierWithNumericSuffix)
{
    const QString base = QStringLiteral("26AAAAAAAAAAAA01 ");
    Insert(base + "19", QStringLiteral("b"));
    Insert(base + "1E", QStringLiteral("C"));
    Insert(base + "00", QStringLiteral("d"));
    Insert({.id = QStringLiteral("28BBBBBBBBBBBB02"), .location = QStringLiteral("z"), .inAlarm = true});

    m_grid->BuildFgrid();
    // "1E" counts as 1, "19" as 19.
    EXPECT_EQ(Ids(), QStringList({"28BBBBBBBBBBBB02", base + "00", base + "1E", base + "19"}));
    EXPECT_TRUE(HeaderFont(ColSensor).underline());
    EXPECT_FALSE(HeaderFont(ColLocation).underline());

    ClickHeader(ColLocation);
    EXPECT_TRUE(m_grid->sortByLocation());
    // Still alarms first; locations without regard to letter case.
    EXPECT_EQ(Ids(), QStringList({"28BBBBBBBBBBBB02", base + "19", base + "1E", base + "00"}));
    EXPECT_TRUE(HeaderFont(ColLocation).underline());
    EXPECT_FALSE(HeaderFont(ColSensor).underline());
    EXPECT_TRUE(HeaderFont(ColSensor).bold());

    ClickHeader(ColSensor);
    EXPECT_FALSE(m_grid->sortByLocation());
    EXPECT_EQ(Ids().last(), base + "19");
}

TEST_F(StatusGridTest, HeaderOfCurrentOrderOrOtherColumn_DoesNotRebuild)
{
    Insert(kTemp);
    m_grid->BuildFgrid();
    Insert(QStringLiteral("28A1B2C3D4E5F6AB"));
    const int fits = m_host.fits;

    ClickHeader(ColSensor);
    ClickHeader(ColTemperature);
    EXPECT_EQ(model().rowCount(), 1);
    EXPECT_EQ(m_host.fits, fits);

    ClickHeader(ColLocation);
    EXPECT_EQ(model().rowCount(), 2);

    Insert(QStringLiteral("28A1B2C3D4E5F6AC"));
    ClickHeader(ColLocation);
    EXPECT_EQ(model().rowCount(), 2);
}

TEST_F(StatusGridTest, PickedSensor_IsReselectedAfterOrderChange)
{
    Insert(QStringLiteral("28A1B2C3D4E5F601"), QStringLiteral("c"));
    Insert(QStringLiteral("28A1B2C3D4E5F602"), QStringLiteral("b"));
    Insert(QStringLiteral("28A1B2C3D4E5F603"), QStringLiteral("a"));
    m_grid->BuildFgrid();

    ClickRow(0);
    EXPECT_EQ(program().selectedSensor, "28A1B2C3D4E5F601");
    ClickHeader(ColLocation);

    EXPECT_EQ(m_grid->selectedRow(), 3);
    EXPECT_EQ(SelectedViewRow(), 2);
    EXPECT_FALSE(m_grid->sortChanged());
    EXPECT_EQ(m_grid->gridSensor(), "28A1B2C3D4E5F601");
    // The header press emptied the program's pick; the grid remembers its own.
    EXPECT_EQ(program().selectedSensor, "");
}

// --- Mouse -----------------------------------------------------------------------------------

TEST_F(StatusGridTest, PressBelowLastRow_PicksLastRow)
{
    Insert(QStringLiteral("28A1B2C3D4E5F601"));
    Insert(QStringLiteral("28A1B2C3D4E5F602"));
    Insert(QStringLiteral("28A1B2C3D4E5F603"));
    m_grid->BuildFgrid();

    const int below = m_grid->rowViewportPosition(2) + m_grid->rowHeight(2) + 40;
    Click(m_grid->viewport(), QPoint(20, below));

    EXPECT_EQ(program().selectedSensor, "28A1B2C3D4E5F603");
    EXPECT_EQ(m_grid->selectedRow(), 3);
    EXPECT_EQ(SelectedViewRow(), 2);

    ClickRow(0);
    EXPECT_EQ(program().selectedSensor, "28A1B2C3D4E5F601");
    EXPECT_EQ(SelectedViewRow(), 0);
}

TEST_F(StatusGridTest, RightClick_MenuOnlyOverAPickedSensor)
{
    Insert(kTemp);
    m_grid->BuildFgrid();

    ClickRow(0);
    ASSERT_EQ(program().selectedSensor, kTemp);
    ClickHeader(ColTemperature, Qt::RightButton);
    EXPECT_EQ(program().selectedSensor, "");
    EXPECT_EQ(m_host.menus, 0);

    ClickRow(0, Qt::RightButton);
    EXPECT_EQ(m_host.menus, 1);
    EXPECT_EQ(program().selectedSensor, kTemp);
}

TEST_F(StatusGridTest, DoubleClick_RepeatsLastViewChoice)
{
    Insert(kTemp);
    m_grid->BuildFgrid();
    const QPoint at(20, m_grid->rowViewportPosition(0) + 3);

    for (int choice : {0, 2, 1, 7}) {
        program().lastViewChoice = choice;
        Send(m_grid->viewport(), QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    }
    EXPECT_EQ(m_host.views, QList<int>({0, 2, 1, 0}));

    m_host.optionsEnabled = false;
    program().lastViewChoice = 1;
    Send(m_grid->viewport(), QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    EXPECT_EQ(m_host.views.size(), 4);
}

// --- Columns, sizes, colours -----------------------------------------------------------------

TEST_F(StatusGridTest, WidenedColumns_StayAfterTheSensorLeaves)
{
    EXPECT_EQ(m_grid->columnWidthTwips(ColSensor), 2200);
    EXPECT_EQ(m_grid->columnWidthTwips(ColLocation), 4000);
    EXPECT_EQ(m_grid->columnWidthTwips(ColTemperature), 1500);
    for (int c = ColHumidity; c <= ColWater; ++c)
        EXPECT_TRUE(m_grid->isColumnHidden(c)) << c;

    Insert({.id = kWaterHumid, .ch2 = 40.0, .water = 0});
    m_grid->BuildFgrid();
    EXPECT_EQ(Cell(0, ColWater), "Dry");

    m_host.lastRead = kLastRead.addSecs(600);
    Insert({.id = kTemp, .secondsBefore = -600});
    m_grid->BuildFgrid();

    ASSERT_EQ(Ids(), QStringList({kTemp}));
    const int widths[] = {2200, 4000, 1500, 1240, 0, 0, 0, 1240};
    for (int c = 0; c < kGridColumnCount; ++c)
        EXPECT_EQ(m_grid->columnWidthTwips(c), widths[c]) << c;
    EXPECT_FALSE(m_grid->isColumnHidden(ColWater));
    EXPECT_TRUE(m_grid->isColumnHidden(ColLight));
    // 10180 twips of columns plus 5 pixels, and the window 1350 wider.
    EXPECT_EQ(m_grid->gridWidthTwips(), 10180 + 75);
    EXPECT_EQ(m_host.windowWidth, 10180 + 75 + 1350);
}

TEST_F(StatusGridTest, ThirtySensors_InSmallMainWindow_Scroll)
{
    for (int i = 0; i < 30; ++i)
        Insert(QStringLiteral("28A1B2C3D4E5F6%1").arg(i, 2, 10, QLatin1Char('0')));
    m_host.mainInner = 6000;

    m_grid->BuildFgrid();

    EXPECT_EQ(model().rowCount(), 30);
    EXPECT_EQ(m_grid->gridHeightTwips(), 4500);
    EXPECT_EQ(m_grid->height(), 300);
    EXPECT_EQ(m_grid->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_EQ(m_host.windowHeight, 6000);
    EXPECT_EQ(m_grid->gridWidthTwips(), 7700 + 19 * 15);
}

TEST_F(StatusGridTest, FewSensors_GridFitsItsRows_NoScrollBar)
{
    Insert(kTemp);
    Insert(QStringLiteral("28A1B2C3D4E5F6AB"));
    m_grid->BuildFgrid();

    EXPECT_EQ(m_grid->gridHeightTwips(), 600 + 600 + 105);
    EXPECT_EQ(m_host.windowHeight, 1305 + 1500);
    EXPECT_EQ(m_grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(m_grid->rowHeight(0), 20);
    EXPECT_EQ(m_grid->horizontalHeader()->height(), 44);
}

TEST_F(StatusGridTest, MaximizedOrMinimizedWindow_KeepsItsSizeAndEveryRowStaysReachable)
{
    for (int i = 0; i < 12; ++i)
        Insert(QStringLiteral("28A1B2C3D4E5F6%1").arg(i, 2, 16, QLatin1Char('0')).toUpper());

    // Maximized and too low for the rows: the grid takes the window's room and scrolls.
    m_host.maximized = true;
    m_host.monitorInner = 3000;
    m_grid->BuildFgrid();
    EXPECT_EQ(model().rowCount(), 12);
    EXPECT_FALSE(m_host.windowWidth.has_value());
    EXPECT_FALSE(m_host.windowHeight.has_value());
    EXPECT_EQ(m_grid->gridHeightTwips(), 3000 - m_grid->y() * 15 - 120);
    EXPECT_EQ(m_grid->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_EQ(m_grid->gridWidthTwips(), 2200 + 4000 + 1500 + 19 * 15);

    // Maximized with room to spare: every row shows, no bar.
    m_host.monitorInner = 9000;
    m_grid->BuildFgrid();
    EXPECT_EQ(m_grid->gridHeightTwips(), 600 + 12 * 300 + 105);
    EXPECT_EQ(m_grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(m_host.windowWidth.has_value());

    // Minimized: nothing is resized, but the rows can still scroll.
    m_host.maximized = false;
    m_host.minimized = true;
    m_host.monitorInner = 3000;
    const int height = m_grid->gridHeightTwips();
    m_grid->BuildFgrid();
    EXPECT_EQ(m_grid->gridHeightTwips(), height);
    EXPECT_FALSE(m_host.windowWidth.has_value());
    EXPECT_EQ(m_grid->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
}

TEST_F(StatusGridTest, NoSensor_HeaderRowOnly)
{
    Insert(kTemp);
    m_grid->BuildFgrid();
    Exec(QStringLiteral("DELETE FROM Sensors"));

    m_grid->BuildFgrid();

    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_EQ(m_grid->gridHeightTwips(), kHeaderRowTwips);
    EXPECT_EQ(m_grid->height(), 44);
    EXPECT_EQ(m_host.windowWidth, m_grid->gridWidthTwips() + 1350);
}

TEST_F(StatusGridTest, RowColours_FromAlarmState)
{
    Insert({.id = kTemp, .inAlarm = true});
    Insert(QStringLiteral("28A1B2C3D4E5F6AB"));
    program().settings.ColAlarm = 0x0000FF; // red in the low byte
    program().settings.ColOK = 0x00FF00;

    m_grid->BuildFgrid();

    for (int c = 0; c < kGridColumnCount; ++c) {
        EXPECT_EQ(model().data(model().index(0, c), Qt::BackgroundRole).value<QColor>(), QColor(255, 0, 0));
        EXPECT_EQ(model().data(model().index(1, c), Qt::BackgroundRole).value<QColor>(), QColor(0, 255, 0));
    }
    EXPECT_EQ(model().data(model().index(0, ColLocation), Qt::TextAlignmentRole).toInt(),
              int(Qt::AlignLeft | Qt::AlignVCenter));
    EXPECT_EQ(model().data(model().index(0, ColSensor), Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));

    // The first row is selected, but without the focus the grid shows its alarm colour.
    ASSERT_EQ(SelectedViewRow(), 0);
    ASSERT_FALSE(m_grid->hasFocus());
    const QImage shown = m_grid->viewport()->grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(4, m_grid->rowViewportPosition(0) + 10)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shown.pixel(4, m_grid->rowViewportPosition(1) + 10)), QColor(0, 255, 0));
}

// --- Messages and attention ------------------------------------------------------------------

TEST_F(StatusGridTest, ScaleChange_ToldOnce_HeaderShowsNewLetter)
{
    test::ScriptedPrompter prompter;
    Insert(kTemp);
    m_grid->BuildFgrid();
    EXPECT_TRUE(prompter.boxes.isEmpty());
    EXPECT_EQ(model().header(ColTemperature), QString::fromUtf8("Temperature\r(°C)"));

    program().settings.CorF = QStringLiteral("F");
    m_grid->BuildFgrid();
    m_grid->BuildFgrid();

    ASSERT_EQ(prompter.boxes.size(), 1);
    EXPECT_EQ(prompter.boxes[0].title, "Temperature scale change");
    EXPECT_EQ(prompter.boxes[0].text, "Correct temperature readings will\rbe shown after the next scan.");
    EXPECT_EQ(model().headerData(ColTemperature, Qt::Horizontal, Qt::DisplayRole).toString(),
              QString::fromUtf8("Temperature\n(°F)"));
}

TEST_F(StatusGridTest, AlarmWhileNotInFront_FlashesAndBeeps)
{
    Insert(kTemp);
    m_host.inFront = false;
    m_grid->BuildFgrid();
    EXPECT_EQ(m_host.flashes, 0);

    Insert({.id = QStringLiteral("28A1B2C3D4E5F6AB"), .inAlarm = true});
    m_grid->BuildFgrid();
    EXPECT_EQ(m_host.flashes, 1);
    // Not in front: the row is not re-selected.
    EXPECT_EQ(SelectedViewRow(), -1);

    m_host.inFront = true;
    m_grid->BuildFgrid();
    EXPECT_EQ(m_host.flashes, 1);

    m_host.minimized = true;
    m_grid->BuildFgrid();
    EXPECT_EQ(m_host.flashes, 2);
}

TEST_F(StatusGridTest, DatabaseFailure_ShowsError_GridKeepsItsRows)
{
    test::ScriptedPrompter prompter;
    Insert(kTemp);
    m_grid->BuildFgrid();
    CloseConnection();

    m_grid->BuildFgrid();

    EXPECT_EQ(prompter.titles(), QStringList({"Error"}));
    EXPECT_EQ(prompter.boxes[0].icon, Icon::Exclamation);
    EXPECT_EQ(Ids(), QStringList({kTemp}));
}

// --- Sizing rules ------------------------------------------------------------------------------

TEST(SizeGridTest, FourRules)
{
    // Small main window, rows fit.
    GridSize g = SizeGrid(900, 7700, 4000, 15);
    EXPECT_EQ(g.gridHeight, 1005);
    EXPECT_EQ(g.windowHeight, 2505);
    EXPECT_EQ(g.gridWidth, 7775);
    EXPECT_FALSE(g.verticalScrollBar);
    // Small main window (5000 counts as small), too many rows.
    g = SizeGrid(1950, 7700, 5000, 15);
    EXPECT_EQ(g.gridHeight, 3500);
    EXPECT_EQ(g.windowHeight, 5000);
    EXPECT_EQ(g.gridWidth, 7985);
    EXPECT_TRUE(g.verticalScrollBar);
    // Large main window, rows fit.
    g = SizeGrid(3000, 7700, 9000, 15);
    EXPECT_EQ(g.gridHeight, 3105);
    EXPECT_EQ(g.windowHeight, 4605);
    EXPECT_FALSE(g.verticalScrollBar);
    // Large main window, rows reach its height.
    g = SizeGrid(7500, 7700, 9000, 15);
    EXPECT_EQ(g.gridHeight, 7500);
    EXPECT_EQ(g.windowHeight, 9000);
    EXPECT_TRUE(g.verticalScrollBar);
}
