#include "History.h"
#include "OffscreenScreen.h"
#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "TestHome.h"

#include "app/ui/HelpAbout.h"
#include "app/ui/MainMDI.h"
#include "core/Database.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/ui/Collection.h"
#include "options/ui/Options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QScrollBar>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSqlQuery>
#include <QStatusBar>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

// The screen of a common office monitor.
const OffscreenScreen kScreen(1280, 1024);

namespace {

// Twips of a pixel length on the offscreen screen.
int twipsX(int px) { return qRound(px * program().twipsPerPixelX); }
int twipsY(int px) { return qRound(px * program().twipsPerPixelY); }

void store(const QString &key, const QString &value)
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    s.setValue(QStringLiteral("ClarowMon/") + key, value);
    s.sync();
}

class MainWindowStartUp : public ::testing::Test
{
protected:
    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
};

// The window opens where the settings place it, as large as they say; from there it has
// grown only as far as the Options dialog that the start-up opens (no adapter) needs.
void expectPlacedFromSettings(const MainMDI &w, int left, int top, int width, int height)
{
    EXPECT_NEAR(twipsX(w.x()), left, 15);
    EXPECT_NEAR(twipsY(w.y()), top, 15);
    const QWidget *options = w.findChild<Options *>()->parentWidget();
    const QSize room = w.mdiArea()->maximumViewportSize();
    EXPECT_NEAR(twipsX(w.width()), std::max(width, twipsX(w.width() - room.width() + options->width())), 15);
    EXPECT_NEAR(twipsY(w.height()), std::max(height, twipsY(w.height() - room.height() + options->height())), 15);
}

} // namespace

TEST_F(MainWindowStartUp, EmptySettingsPlaceTheWindowAtTheDefaultTwips)
{
    MainMDI w;
    w.startUp();
    expectPlacedFromSettings(w, 1000, 1000, 11280, 8295);
}

TEST_F(MainWindowStartUp, StoredZerosFallBackToTheSmallerWindow)
{
    for (const char *key : {"MdiLeft", "MdiTop", "MdiWidth", "MdiHeight"})
        store(QLatin1String(key), QStringLiteral("0"));
    MainMDI w;
    w.startUp();
    expectPlacedFromSettings(w, 200, 200, 9000, 6800);
}

TEST_F(MainWindowStartUp, NoAdapterSearchesEveryPortTwiceThenSaysSo)
{
    MainMDI w;
    QStringList tried;
    QObject::connect(w.statusBar(), &QStatusBar::messageChanged, [&tried](const QString &m) {
        if (!m.isEmpty())
            tried << m;
    });
    EXPECT_TRUE(w.startUp());
    ASSERT_EQ(tried.size(), 32);
    EXPECT_EQ(tried.first(), QStringLiteral("Looking for the Varnex on port 1"));
    EXPECT_EQ(tried.at(16), QStringLiteral("Looking for the Varnex on port 1"));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Varnex not found"));
    EXPECT_EQ(boxes.boxes[0].text,
              QStringLiteral("The Varnex was not found. Please\rselect and test the port number manually."));
    EXPECT_EQ(w.collection(), nullptr);
    EXPECT_FALSE(program().adapterOK);
    EXPECT_TRUE(w.loaded());
}

TEST_F(MainWindowStartUp, MissingDatabaseFileIsAnErrorLoadingClarow)
{
    QFile::remove(home.databasePath());
    MainMDI w;
    EXPECT_FALSE(w.startUp());
    EXPECT_TRUE(w.failed());
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Error loading Clarow"));
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("Error 25\r")));
    EXPECT_FALSE(QFile::exists(home.databasePath()));
}

TEST_F(MainWindowStartUp, ADatabaseOfANewerLayoutIsRefusedAndLeftAsItIs)
{
    // A file that a later Clarow upgraded, left in the engine's other journal mode.
    const QString newer = QString::number(kSchemaVersion + 1);
    ASSERT_EQ(QProcess::execute(QStringLiteral("sqlite3"),
                                {home.databasePath(), QStringLiteral("PRAGMA journal_mode = DELETE; PRAGMA user_version = ")
                                                          + newer + QLatin1Char(';')}),
              0);
    QFile file(home.databasePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    MainMDI w;
    EXPECT_FALSE(w.startUp());
    EXPECT_FALSE(DatabaseIsOpen());
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Error loading Clarow"));
    const QString text = boxes.boxes[0].text;
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(home.databasePath()))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("version ") + newer)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("version %1").arg(kSchemaVersion))) << text.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_FALSE(QFile::exists(home.databasePath() + QStringLiteral("-wal")));
}

TEST_F(MainWindowStartUp, AdapterOnPortOneOpensTheMonitoringWindow)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(1);
    MainMDI w;
    EXPECT_TRUE(w.startUp());
    EXPECT_TRUE(program().adapterOK);
    EXPECT_NE(w.collection(), nullptr);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    w.close();
}

TEST_F(MainWindowStartUp, MenusCarryTheirNamesAndCaptions)
{
    MainMDI w;
    const auto caption = [&w](const char *name) {
        auto *a = w.findChild<QAction *>(QLatin1String(name));
        return a ? a->text() : QStringLiteral("<missing>");
    };
    EXPECT_EQ(caption("dCollMi"), QStringLiteral("Start &Data collection"));
    EXPECT_EQ(caption("ExitMi"), QStringLiteral("E&xit"));
    EXPECT_EQ(caption("SensorsMi"), QStringLiteral("S&ensor Options"));
    EXPECT_EQ(caption("OptionsMi"), QStringLiteral("&Main Options"));
    EXPECT_EQ(caption("LogMi"), QStringLiteral("&Log"));
    EXPECT_EQ(caption("GraphMi"), QStringLiteral("&Graph"));
    EXPECT_EQ(caption("AboutMi"), QStringLiteral("&About"));
    EXPECT_EQ(caption("SensorContMi"), QStringLiteral("Sensor Options"));
    EXPECT_EQ(caption("LogContMi"), QStringLiteral("Log"));
    EXPECT_EQ(caption("GraphContMi"), QStringLiteral("Graph"));
    QStringList menus;
    for (QAction *a : w.menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{QStringLiteral("&Controls"), QStringLiteral("&Tools"),
                                  QStringLiteral("&Data"), QStringLiteral("&Help")}));
    EXPECT_EQ(w.contextMenu()->objectName(), QStringLiteral("ContextMi"));

    w.findChild<QAction *>(QStringLiteral("LogContMi"))->trigger();
    EXPECT_EQ(program().lastViewChoice, 2);
    w.findChild<QAction *>(QStringLiteral("SensorContMi"))->trigger();
    EXPECT_EQ(program().lastViewChoice, 1);
    w.findChild<QAction *>(QStringLiteral("GraphContMi"))->trigger();
    EXPECT_EQ(program().lastViewChoice, 0);
}

TEST_F(MainWindowStartUp, ClosingResetsTheSensorsAndSavesThePositions)
{
    MainMDI w;
    ASSERT_TRUE(w.startUp());
    QSqlQuery q(Db());
    ASSERT_TRUE(q.exec(QStringLiteral(
        "INSERT INTO Sensors (SensorID, Location, cTmp, LastR, InAlarm, AlType, Connected, ConcAlarms, MailSent) "
        "VALUES ('28A1B2C3D4E5F60A', 'Cold store', 60, 46000.5, 1, 2, 1, 3, 1)")));
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(DatabaseIsOpen());

    QSqlDatabase check = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    check.setDatabaseName(home.databasePath());
    ASSERT_TRUE(check.open());
    {
        QSqlQuery r(check);
        ASSERT_TRUE(r.exec(QStringLiteral(
            "SELECT InAlarm, AlType, Connected, ConcAlarms, MailSent, LastR FROM Sensors")));
        ASSERT_TRUE(r.next());
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(r.value(i).toDouble(), 0.0) << "column " << i;
    }
    check.close();
    check = {};
    QSqlDatabase::removeDatabase(QStringLiteral("check"));

    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    EXPECT_EQ(s.value(QStringLiteral("ClarowMon/MdiLeft")).toString(), QStringLiteral("1000"));
    EXPECT_EQ(s.value(QStringLiteral("ClarowMon/GrHeight")).toString(), QStringLiteral("6000"));
}

TEST_F(MainWindowStartUp, ClosingIsRefusedDuringAFirmwareUpgrade)
{
    MainMDI w;
    ASSERT_TRUE(w.startUp());
    program().upgrading = true;
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(DatabaseIsOpen());
    program().upgrading = false;
    EXPECT_TRUE(w.close());
}

TEST_F(MainWindowStartUp, StartDataCollectionOpensOneMonitoringWindow)
{
    MainMDI w;
    ASSERT_TRUE(w.startUp());
    ASSERT_EQ(w.collection(), nullptr);
    auto *start = w.findChild<QAction *>(QStringLiteral("dCollMi"));
    start->trigger();
    ASSERT_NE(w.collection(), nullptr);
    EXPECT_EQ(w.collection()->windowTitle(), QStringLiteral("Monitoring"));
    start->trigger();
    // Beside the Options dialog that a start-up without an adapter opens.
    EXPECT_EQ(w.findChildren<Collection *>().size(), 1);
    EXPECT_TRUE(w.close());
}

TEST(AboutWindow, ShowsTheVersionAndKeepsItsSize)
{
    HelpAbout about;
    EXPECT_EQ(about.findChild<QLabel *>(QStringLiteral("VersionLabel"))->text(), QStringLiteral(CLAROW_VERSION));
    EXPECT_EQ(about.findChild<QPushButton *>(QStringLiteral("CloseBtn"))->text(), QStringLiteral("&Close"));
    EXPECT_EQ(about.findChild<QPushButton *>(QStringLiteral("ManualBtn"))->text(), QStringLiteral("&Manual"));
    const QSize fixed = about.size();
    EXPECT_EQ(fixed, QSize(qRound(5805 / program().twipsPerPixelX), qRound(3435 / program().twipsPerPixelY)));
    about.show();
    about.resize(fixed.width() + 100, fixed.height() + 50);
    EXPECT_EQ(about.size(), fixed);
}

// At a first start (default sizes) on a 1280 x 1024 screen every window that opens in the
// workspace is seen whole, the readings of the log included: the main window grows within
// the screen to hold it, or the window is placed inside the workspace.
TEST_F(MainWindowStartUp, FirstStartShowsEveryWorkspaceWindowWhole)
{
    const QString id = QStringLiteral("26000000000000A1 19");
    AddSensor(home.databasePath(), { id });
    AddReadings(home.databasePath(), id, Now().addDays(-1), 48, 1800,
        [](int i) { return 4.0 + i % 3; }, [](int) { return 40.0; });
    MainMDI w;
    ASSERT_TRUE(w.startUp()); // no adapter: the Options dialog opens
    ASSERT_EQ(w.screen()->availableGeometry(), QRect(0, 0, 1280, 1024));
    program().selectedSensor = id;

    QMdiArea *area = w.mdiArea();
    const auto frameOf = [area](const QString &name) -> QMdiSubWindow * {
        for (QMdiSubWindow *sub : area->subWindowList())
            if (sub->widget() && sub->widget()->objectName() == name)
                return sub;
        return nullptr;
    };
    const std::pair<const char *, std::function<void()>> windows[] = {
        { "Options", [] {} }, // opened by the start-up
        { "LogFrm", [&w] { w.LogMi_Click(); } },
        { "FullGraph", [&w] { w.GraphMi_Click(); } },
        { "SensorOptions", [&w] { w.SensorsMi_Click(); } },
        { "UpdCode", [&w] { w.openUpdCode(); } },
    };
    for (const auto &[name, open] : windows) {
        SCOPED_TRACE(name);
        open();
        QCoreApplication::processEvents();
        QMdiSubWindow *frame = frameOf(QLatin1String(name));
        ASSERT_NE(frame, nullptr);
        EXPECT_TRUE(area->viewport()->rect().contains(frame->geometry()))
            << frame->geometry().x() << "," << frame->geometry().y() << " "
            << frame->width() << "x" << frame->height() << " in " << area->viewport()->width()
            << "x" << area->viewport()->height();
        EXPECT_FALSE(area->verticalScrollBar()->isVisible());
        EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
        EXPECT_TRUE(w.screen()->availableGeometry().contains(w.frameGeometry()));
    }
    EXPECT_EQ(boxes.titles(), QStringList { QStringLiteral("Varnex not found") });
}
