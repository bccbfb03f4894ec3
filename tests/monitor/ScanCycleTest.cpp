// The scan cycle in virtual time: a scripted adapter, the real database file, the real
// diagnostic log. Each tick is driven by hand, 200 ms of virtual time apart.
#include "core/Database.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/VirtualClock.h"
#include "monitor/ScanCycle.h"
#include "monitor/ui/Collection.h"

#include "ScriptedPrompter.h"
#include "ScriptedSerialPort.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTableView>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <memory>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kTempSensor = QStringLiteral("28A1B2C3D4E5F60A");
const QString kHumiditySensor = QStringLiteral("26A1B2C3D4E5F60B 19");
const QString kGoodReply = QStringLiteral("28A1B2C3D4E5F60A,21.50,70.70\r\n"
                                          "26A1B2C3D4E5F60B 19,23.25,73.85,45\r\n"
                                          "EOD\r\n");
// The second line's humidity is not a number.
const QString kBadReply = QStringLiteral("28A1B2C3D4E5F60A,21.50,70.70\r\n"
                                         "26A1B2C3D4E5F60B 19,23.25,73.85,4A\r\n"
                                         "EOD\r\n");
// The adapter takes most of a second to read its bus, as a real one does.
constexpr qint64 kReplyAfterMs = 700;
const QString kWatchLine = QStringLiteral("Commection stopped. No Varnex detected for 2 hours.");

struct RecordingView final : ScanView
{
    void showStatus(const QString &text) override
    {
        statuses << text;
        if (text == QLatin1String("Scanning"))
            scanTimes << Now();
    }
    void buildGrid() override { ++grids; }
    void closeWindow() override { ++closes; }

    QStringList statuses;
    QList<QDateTime> scanTimes;
    int grids = 0;
    int closes = 0;
};

class ScanCycleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LoadOptions();
        Settings &s = program().settings;
        s.LogErrors = true;
        s.LoggingInterval = 10;
        s.CorF = QStringLiteral("C");
        s.PortNumber = 1;
        SaveOptions();
        OpenDatabase();
        port.setReply({{kReplyAfterMs, kGoodReply}});
        program().port = &port;
        cycle = std::make_unique<ScanCycle>(&view);
    }

    void setInterval(float minutes)
    {
        program().settings.LoggingInterval = minutes;
        SaveOptions();
    }

    // Ticks every 200 ms of virtual time until the given time (or until the window closes).
    void runUntil(const QDateTime &end)
    {
        while (Now() < end && view.closes == 0) {
            cycle->Timer1_Timer();
            vc.advanceMs(200);
        }
    }
    void runFor(qint64 seconds) { runUntil(Now().addSecs(seconds)); }

    void adapterAway() { port.setPresentPorts({16}); }
    void adapterBack() { port.setPresentPorts({}); }

    [[nodiscard]] QList<QDateTime> history(const QString &id) const
    {
        QList<QDateTime> times;
        QSqlQuery q = Exec(QStringLiteral("SELECT lTime FROM LogTbl WHERE SensorID = ? ORDER BY lTime"), {id});
        while (q.next())
            times << FromSerial(q.value(0).toDouble());
        return times;
    }
    [[nodiscard]] int count(const QString &sql) const
    {
        QSqlQuery q = Exec(sql);
        return q.next() ? q.value(0).toInt() : -1;
    }
    // Every diagnostic log file of the program folder, joined.
    [[nodiscard]] QString log() const
    {
        QString all;
        const QStringList files = QDir(home.path()).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
        for (const QString &f : files)
            all += home.readFile(f);
        return all;
    }
    [[nodiscard]] QString database() const { return home.databasePath(); }

    TestHome home;
    ScriptedPrompter prompter;
    VirtualClock vc{QDateTime(QDate(2026, 3, 2), QTime(12, 0))}; // a Monday
    ScopedClock useClock{vc};
    ScriptedSerialPort port;
    RecordingView view;
    std::unique_ptr<ScanCycle> cycle;
};

qint64 gap(const QDateTime &a, const QDateTime &b) { return a.secsTo(b); }

// --- Schedule -------------------------------------------------------------------------------

TEST_F(ScanCycleTest, TenMinuteInterval_ScansEveryMinuteCountsDownAndLogsOncePerInterval)
{
    cycle->start();
    const QDateTime start = Now();
    runUntil(start.addSecs(3600));

    // A scan in every minute of the hour.
    QSet<qint64> minutes;
    for (const QDateTime &t : view.scanTimes)
        minutes.insert(qRound64(start.msecsTo(t) / 60000.0));
    for (qint64 m = 0; m < 60; ++m)
        EXPECT_TRUE(minutes.contains(m)) << "no scan near minute " << m;
    EXPECT_LE(view.scanTimes.size(), 120);

    // Between two scans of different minutes the box counts 59 down to 01, every value shown.
    int countdowns = 0;
    QList<int> run;
    for (const QString &text : std::as_const(view.statuses)) {
        if (text == QLatin1String("Scanning")) {
            if (!run.isEmpty()) {
                ++countdowns;
                EXPECT_EQ(run.first(), 59);
                EXPECT_EQ(run.last(), 1);
                QSet<int> seen(run.begin(), run.end());
                EXPECT_EQ(seen.size(), 59);
                for (qsizetype i = 1; i < run.size(); ++i)
                    EXPECT_LE(run[i], run[i - 1]);
            }
            run.clear();
        } else if (text.startsWith(QLatin1String("Seconds to next scan: "))) {
            const QString digits = text.mid(22);
            ASSERT_EQ(digits.size(), 2) << text.toStdString();
            run << digits.toInt();
        }
    }
    EXPECT_GE(countdowns, 58);
    EXPECT_TRUE(view.statuses.contains(QStringLiteral("Seconds to next scan: 07")));

    // One history row per sensor per ten minutes.
    for (const QString &id : {kTempSensor, kHumiditySensor}) {
        const QList<QDateTime> rows = history(id);
        ASSERT_EQ(rows.size(), 6) << id.toStdString();
        for (qsizetype i = 1; i < rows.size(); ++i)
            EXPECT_NEAR(gap(rows[i - 1], rows[i]), 600, 1);
    }
    EXPECT_EQ(view.grids, view.scanTimes.size());
    EXPECT_TRUE(cycle->timer().isActive());
    EXPECT_FALSE(log().contains(QStringLiteral("Timer error")));
}

TEST_F(ScanCycleTest, OneMinuteInterval_EveryMinutesReadingGoesToTheHistory)
{
    setInterval(1);
    cycle->start();
    const QDateTime start = Now();
    runUntil(start.addSecs(600).addMSecs(-1500));

    const QList<QDateTime> rows = history(kTempSensor);
    ASSERT_EQ(rows.size(), 10);
    for (qsizetype i = 1; i < rows.size(); ++i)
        EXPECT_NEAR(gap(rows[i - 1], rows[i]), 60, 1);
    EXPECT_EQ(history(kHumiditySensor).size(), 10);
}

TEST_F(ScanCycleTest, FastAdapterOrBorrowedPort_OneScanPerMinuteAndNoneWhileThePortIsLent)
{
    // An adapter that answers within the same second: a scan must not run twice in the second
    // that is due, or "consecutive scans" would count half-minutes.
    port.setReply({{50, kGoodReply}});
    cycle->start();
    const QDateTime start = Now();
    runUntil(start.addSecs(600).addMSecs(-1500));
    EXPECT_EQ(view.scanTimes.size(), 10);
    for (qsizetype i = 1; i < view.scanTimes.size(); ++i)
        EXPECT_NEAR(gap(view.scanTimes[i - 1], view.scanTimes[i]), 60, 1);

    // A window borrows the port across the next due second: nothing reaches the adapter, and the
    // scan is made up at the first tick after the port comes back.
    const qsizetype writes = port.written().size();
    const qsizetype scans = view.scanTimes.size();
    {
        PortLoan loan;
        runFor(5);
        EXPECT_EQ(port.written().size(), writes);
        EXPECT_EQ(view.scanTimes.size(), scans);
        EXPECT_TRUE(cycle->timer().isActive());
    }
    const QDateTime back = Now();
    runFor(1);
    ASSERT_EQ(view.scanTimes.size(), scans + 1);
    EXPECT_LE(back.msecsTo(view.scanTimes.last()), 200);
    EXPECT_GT(port.written().size(), writes);

    // A window that asks for the port while a scan uses it gets it once the scan is over.
    bool ran = false;
    {
        PortUse scanRunning;
        EXPECT_FALSE(WhenPortFree(cycle.get(), [&] { ran = !PortBusy(); }));
    }
    QElapsedTimer wait;
    wait.start();
    while (!ran && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(PortBusy());
    EXPECT_TRUE(ran);
}

TEST_F(ScanCycleTest, AdapterAway25Minutes_BothMissedSlotsCaughtUpThenBackToTheInterval)
{
    cycle->start();
    const QDateTime start = Now();
    runUntil(start.addSecs(11 * 60 + 30));
    ASSERT_EQ(history(kTempSensor).size(), 2); // 12:00 and 12:10
    adapterAway();
    runFor(25 * 60);
    EXPECT_EQ(history(kTempSensor).size(), 2);
    adapterBack();
    runUntil(start.addSecs(60 * 60));

    const QList<QDateTime> rows = history(kTempSensor);
    ASSERT_EQ(rows.size(), 6);
    const QDateTime back = start.addSecs(36 * 60 + 30);
    EXPECT_GT(rows[2], back);
    EXPECT_LT(gap(back, rows[2]), 60);
    EXPECT_NEAR(gap(rows[2], rows[3]), 60, 1);   // the second missed slot, a minute later
    EXPECT_GT(gap(rows[3], rows[4]), 60);        // then the schedule is in the future again
    EXPECT_NEAR(gap(rows[4], rows[5]), 600, 1);  // and one row per interval
}

TEST_F(ScanCycleTest, ReopenedWindow_CountsDownOnTheOldSchedule)
{
    cycle->start();
    const QDateTime start = Now();
    runUntil(start.addSecs(150));
    const QDateTime slot = program().scanSlot;
    const QDateTime next = program().nextScan;
    cycle.reset();

    view.scanTimes.clear();
    view.statuses.clear();
    cycle = std::make_unique<ScanCycle>(&view);
    cycle->start();
    cycle->Timer1_Timer();
    EXPECT_EQ(program().scanSlot, slot);
    EXPECT_EQ(program().nextScan, next);
    ASSERT_FALSE(view.statuses.isEmpty());
    EXPECT_EQ(view.statuses.first(), QStringLiteral("Seconds to next scan: 30"));
    EXPECT_TRUE(view.scanTimes.isEmpty());

    runUntil(start.addSecs(185));
    ASSERT_FALSE(view.scanTimes.isEmpty());
    EXPECT_NEAR(start.msecsTo(view.scanTimes.first()) / 1000.0, 180, 1);
}

TEST_F(ScanCycleTest, TuesdayAtThreeAM_RequestsCompactionOnceWhenNoneForFiveDays)
{
    vc.setNow(QDateTime(QDate(2026, 3, 3), QTime(3, 0, 30))); // a Tuesday
    cycle->LastCompacted = QDateTime(QDate(2026, 2, 24), QTime(3, 0, 40));
    cycle->start();
    cycle->Timer1_Timer();
    EXPECT_TRUE(cycle->CompactRequested);
    runUntil(QDateTime(QDate(2026, 3, 3), QTime(3, 1, 20)));
    EXPECT_TRUE(cycle->CompactRequested);

    // Compacted four days ago: no request.
    cycle->CompactRequested = false;
    cycle->LastCompacted = QDateTime(QDate(2026, 2, 27), QTime(3, 0, 40));
    vc.setNow(QDateTime(QDate(2026, 3, 3), QTime(3, 0, 30)));
    cycle->LastGoodRead = Now();
    runFor(20);
    EXPECT_FALSE(cycle->CompactRequested);

    // Outside the minute after 03:00:00 and on other days: no request.
    cycle->LastCompacted = QDateTime();
    vc.setNow(QDateTime(QDate(2026, 3, 3), QTime(3, 1, 1)));
    runFor(20);
    vc.setNow(QDateTime(QDate(2026, 3, 4), QTime(3, 0, 30)));
    cycle->LastGoodRead = Now();
    runFor(20);
    EXPECT_EQ(view.closes, 0);
    EXPECT_FALSE(cycle->CompactRequested);
}

// --- Two-hour watch ---------------------------------------------------------------------------

TEST_F(ScanCycleTest, NoAdapterForTwoHours_ClosesTheWindowAndLogsOnce)
{
    adapterAway();
    cycle->start();
    const QDateTime start = Now();
    runUntil(start.addSecs(2 * 3600 - 60));
    EXPECT_EQ(view.closes, 0);
    EXPECT_TRUE(cycle->timer().isActive());

    runUntil(start.addSecs(2 * 3600 + 120));
    EXPECT_EQ(view.closes, 1);
    EXPECT_FALSE(cycle->timer().isActive());
    EXPECT_EQ(log().count(kWatchLine), 1);
    EXPECT_TRUE(log().contains(QStringLiteral("Clarow started")));
}

TEST_F(ScanCycleTest, AdapterLostForTwoHoursAfterReadings_ClosesWithoutLoggingWhenLogErrorsOff)
{
    program().settings.LogErrors = false;
    cycle->start();
    const QDateTime start = Now();
    runUntil(start.addSecs(300));
    adapterAway();
    runUntil(start.addSecs(300 + 2 * 3600 - 60));
    EXPECT_EQ(view.closes, 0);
    runFor(180);
    EXPECT_EQ(view.closes, 1);
    EXPECT_FALSE(log().contains(kWatchLine));
}

// --- Decoding ---------------------------------------------------------------------------------

TEST_F(ScanCycleTest, ShortReply_NothingDecodedButSensorsEvaluatedAndGridRebuilt)
{
    // A sensor last read three hours ago, still marked connected.
    Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, LastR, Connected) VALUES (?, 'Hall', ?, 1)"),
         {kTempSensor, ToSerial(Now().addSecs(-3 * 3600))});
    cycle->LastGoodRead = NowWholeSeconds();
    // A whole sensor line, but only 20 characters: too short to be a reading.
    cycle->RxBuffer = QStringLiteral("28A1B2C3D4E5F60A,1\r\n");
    ASSERT_EQ(cycle->RxBuffer.size(), 20);
    cycle->DecodeReadings(true);

    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM LogTbl")), 0);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM Sensors WHERE cTmp IS NULL")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT Connected FROM Sensors")), 0);
    EXPECT_EQ(view.grids, 1);
}

TEST_F(ScanCycleTest, GoodReply_UpdatesSensorsAndHistoryInOneScan)
{
    cycle->LastGoodRead = NowWholeSeconds();
    cycle->RxBuffer = kGoodReply;
    cycle->DecodeReadings(true);

    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM Sensors")), 2);
    EXPECT_EQ(history(kTempSensor).size(), 1);
    EXPECT_EQ(history(kHumiditySensor).size(), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT lCh2 FROM LogTbl WHERE SensorID = '26A1B2C3D4E5F60B 19'")), 45);
    EXPECT_EQ(view.grids, 1);
    // The scan's transaction is finished: a new one can begin.
    EXPECT_TRUE(Db().transaction());
    Db().rollback();
}

TEST_F(ScanCycleTest, NonNumericWholeNumberField_KeepsEarlierLinesRebuildsConnectionAndNextScanWorks)
{
    port.queueReply({{kReplyAfterMs, kBadReply}});
    cycle->start();
    const QDateTime start = Now();
    cycle->Timer1_Timer(); // the first tick scans at once
    ASSERT_EQ(view.scanTimes.size(), 1);

    EXPECT_TRUE(log().contains(QStringLiteral("Error processing Varnex data: ")));
    EXPECT_EQ(view.grids, 0);
    EXPECT_TRUE(DatabaseIsOpen());
    EXPECT_EQ(cycle->ReconnectFailures, 0);
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(cycle->timer().isActive());
    // The line before the bad one is stored; the bad line is not.
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM Sensors WHERE SensorID = '28A1B2C3D4E5F60A'")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM Sensors WHERE SensorID = '26A1B2C3D4E5F60B 19'")), 0);

    runUntil(start.addSecs(61));
    EXPECT_GE(view.grids, 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM Sensors")), 2);
    EXPECT_EQ(history(kHumiditySensor).size(), 1);
    EXPECT_EQ(log().count(QStringLiteral("Error processing Varnex data: ")), 1);
}

TEST_F(ScanCycleTest, LoggingScanFailingPartWay_StoresNoHistoryAndItsRetryWritesOneRowPerSensor)
{
    // A logging scan that fails after some of its lines were decoded leaves the schedule
    // behind; the scan a minute later is the retry of the same slot and must find none of it
    // written, whether the decoding or the database failed.
    const QString third = QStringLiteral("26C1C2C3C4C5C60C 19");
    const QString good = kGoodReply.chopped(5) + third + QStringLiteral(",22.00,71.60,50\r\nEOD\r\n");
    // The third line's humidity is not a number.
    QString garbled = good;
    garbled.replace(QStringLiteral(",71.60,50"), QStringLiteral(",71.60,5A"));
    const struct
    {
        const char *name;
        QString firstReply;
        bool refuseThirdRow;  // the database refuses the third sensor's history row once
        int sensorsAfterFailure;
    } cases[] = {
        {"garbled field in the last line", garbled, false, 2},
        {"database refuses a row", good, true, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Exec(QStringLiteral("DELETE FROM LogTbl"));
        Exec(QStringLiteral("DELETE FROM Sensors"));
        program().scanSlot = QDateTime();
        ScanCycle scans(&view);
        port.setReply({{kReplyAfterMs, good}});
        port.queueReply({{kReplyAfterMs, c.firstReply}});
        if (c.refuseThirdRow) {
            Exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON LogTbl WHEN NEW.SensorID = '%1' "
                                "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END")
                     .arg(third));
        }
        scans.start();
        const QDateTime start = Now();
        scans.Timer1_Timer(); // the first tick scans at once: a logging scan
        EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM LogTbl")), 0);
        EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM Sensors")), c.sensorsAfterFailure);
        if (c.refuseThirdRow)
            Exec(QStringLiteral("DROP TRIGGER refuse"));

        // Until just before the next slot: the retry and the scans after it.
        while (Now() < start.addSecs(9 * 60)) {
            scans.Timer1_Timer();
            vc.advanceMs(200);
        }
        for (const QString &id : {kTempSensor, kHumiditySensor, third})
            EXPECT_EQ(history(id).size(), 1) << id.toStdString();
        EXPECT_TRUE(scans.timer().isActive());
        scans.stop();
    }
}

// --- Database connection watch ----------------------------------------------------------------

TEST_F(ScanCycleTest, DecodingFailureWithCompactionDue_CompactsAndCarriesOn)
{
    cycle->LastGoodRead = NowWholeSeconds();
    cycle->RxBuffer = kGoodReply;
    cycle->DecodeReadings(true);
    cycle->CompactRequested = true;
    cycle->RxBuffer = kBadReply;
    cycle->DecodeReadings(false);

    EXPECT_EQ(log().count(QStringLiteral("Scheduled database compaction completed successfully.")), 1);
    EXPECT_FALSE(log().contains(QStringLiteral("Scheduled database compaction failed.")));
    ASSERT_TRUE(cycle->LastCompacted.isValid());
    EXPECT_LE(qAbs(cycle->LastCompacted.secsTo(Now())), 5);
    EXPECT_FALSE(cycle->CompactRequested);
    EXPECT_TRUE(cycle->timer().isActive());
    EXPECT_TRUE(DatabaseIsOpen());
    EXPECT_EQ(cycle->ReconnectFailures, 0);
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("clarowdata.bak"))));
    EXPECT_EQ(history(kTempSensor).size(), 1);
}

TEST_F(ScanCycleTest, CompactionThatFails_IsLoggedAndDroppedAndMonitoringGoesOn)
{
    // A stale backup beside the database makes the compaction give up.
    QFile stale(home.file(QStringLiteral("clarowdata.bak")));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    cycle->CompactRequested = true;
    cycle->LastGoodRead = NowWholeSeconds();
    cycle->RxBuffer = kBadReply;
    cycle->DecodeReadings(false);

    EXPECT_EQ(log().count(QStringLiteral("Scheduled database compaction failed.")), 1);
    EXPECT_FALSE(cycle->LastCompacted.isValid());
    EXPECT_FALSE(cycle->CompactRequested);
    EXPECT_TRUE(DatabaseIsOpen());
    EXPECT_TRUE(cycle->timer().isActive());
}

TEST_F(ScanCycleTest, TenFailedReconnections_ThenOneRestoredEntryDatedAtTheSeventh)
{
    CloseConnection();
    const QString away = database() + QStringLiteral(".away");
    ASSERT_TRUE(QFile::rename(database(), away));

    QDateTime seventh;
    for (int attempt = 1; attempt <= 10; ++attempt) {
        vc.advanceMs(60000);
        cycle->ReconnectDatabase();
        if (attempt == 7)
            seventh = Now();
        EXPECT_EQ(cycle->OutageReported, attempt >= 7) << attempt;
    }
    EXPECT_EQ(cycle->OutageTime, seventh);
    EXPECT_FALSE(DatabaseIsOpen());
    EXPECT_FALSE(log().contains(QStringLiteral("Database connection failed")));

    ASSERT_TRUE(QFile::rename(away, database()));
    vc.advanceMs(60000);
    cycle->ReconnectDatabase();
    EXPECT_TRUE(DatabaseIsOpen());
    EXPECT_EQ(cycle->ReconnectFailures, 0);
    EXPECT_FALSE(cycle->OutageReported);
    const QString restored = QStringLiteral("Database connection failed ")
                             + seventh.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                             + QStringLiteral(". Now restored.");
    EXPECT_EQ(log().count(restored), 1) << log().toStdString();
    EXPECT_EQ(log().count(QStringLiteral("Database connection failed")), 1);

    // A single failure followed by success is no outage.
    CloseConnection();
    ASSERT_TRUE(QFile::rename(database(), away));
    cycle->ReconnectDatabase();
    EXPECT_EQ(cycle->ReconnectFailures, 1);
    ASSERT_TRUE(QFile::rename(away, database()));
    cycle->ReconnectDatabase();
    EXPECT_EQ(cycle->ReconnectFailures, 0);
    EXPECT_EQ(log().count(QStringLiteral("Database connection failed")), 1);
}

TEST_F(ScanCycleTest, DatabaseGoneDuringScans_ScansGoOnAndTheMissedSlotIsCaughtUp)
{
    cycle->start();
    const QDateTime start = Now();
    runUntil(start.addSecs(9 * 60 + 30));
    ASSERT_EQ(history(kTempSensor).size(), 1);
    CloseConnection();
    const QString away = database() + QStringLiteral(".away");
    ASSERT_TRUE(QFile::rename(database(), away));

    // The 12:10 slot falls into the outage.
    runUntil(start.addSecs(12 * 60 + 30));
    EXPECT_FALSE(DatabaseIsOpen());
    EXPECT_GT(cycle->ReconnectFailures, 0);
    EXPECT_TRUE(cycle->timer().isActive());
    EXPECT_EQ(view.closes, 0);

    ASSERT_TRUE(QFile::rename(away, database()));
    runUntil(start.addSecs(14 * 60 + 30));
    EXPECT_TRUE(DatabaseIsOpen());
    EXPECT_EQ(cycle->ReconnectFailures, 0);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM Sensors")), 2);
    const QList<QDateTime> rows = history(kTempSensor);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_GT(rows[1], start.addSecs(12 * 60 + 30));
    EXPECT_EQ(history(kHumiditySensor).size(), 2);
}

// --- The monitoring window ----------------------------------------------------------------------

class CollectionWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LoadOptions();
        program().settings.CfLeft = 1500;
        program().settings.CfTop = 750;
        program().settings.DefaultSensorLoc.clear();
        program().settings.LocationName.clear();
        OpenDatabase();
    }

    TestHome home;
    ScriptedPrompter prompter;
    VirtualClock vc;
    ScopedClock useClock{vc};
};

TEST_F(CollectionWindowTest, Loaded_ShowsItsControlsAndRunsTheTimer)
{
    QMdiArea area;
    area.resize(1200, 900);
    auto *window = new Collection;
    QMdiSubWindow *frame = area.addSubWindow(window);
    area.show();
    frame->show();

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Monitoring"));
    auto *grid = window->findChild<QTableView *>(QStringLiteral("FlexGrid1"));
    auto *status = window->findChild<QLineEdit *>(QStringLiteral("StatusBx"));
    auto *location = window->findChild<QLineEdit *>(QStringLiteral("clarowBx"));
    ASSERT_TRUE(grid && status && location);
    EXPECT_TRUE(status->isReadOnly());
    EXPECT_EQ(status->x(), grid->x() + 4); // 60 twips at 15 twips per pixel
    EXPECT_EQ(location->geometry().right(), grid->geometry().right());
    EXPECT_EQ(location->text(), QStringLiteral("Unknown Location"));
    EXPECT_EQ(program().settings.DefaultSensorLoc, QStringLiteral("Unknown"));
    EXPECT_EQ(frame->pos(), QPoint(100, 50));
    EXPECT_TRUE(window->cycle().timer().isActive());
    EXPECT_EQ(window->cycle().timer().objectName(), QStringLiteral("Timer1"));
    EXPECT_EQ(window->cycle().LastGoodRead, NowWholeSeconds());

    window->cycle().Timer1_Timer(); // the first tick scans; no port, so the reply is empty
    EXPECT_FALSE(status->text().isEmpty());
}

TEST_F(CollectionWindowTest, ClosingDuringAFirmwareTransfer_IsRefused)
{
    QMdiArea area;
    auto *window = new Collection;
    QPointer<QMdiSubWindow> frame = area.addSubWindow(window);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    area.show();
    frame->show();

    program().upgrading = true;
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(window->cycle().timer().isActive());

    program().upgrading = false;
    EXPECT_TRUE(frame->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frame.isNull());
}

TEST_F(CollectionWindowTest, TwoHourWatch_ClosesTheWholeSubWindow)
{
    QMdiArea area;
    auto *window = new Collection;
    QPointer<QMdiSubWindow> frame = area.addSubWindow(window);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    area.show();
    frame->show();

    vc.advanceMs(2LL * 3600 * 1000 + 1000);
    window->cycle().Timer1_Timer();
    EXPECT_FALSE(window->cycle().timer().isActive());
    for (int i = 0; i < 5 && frame; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(frame.isNull());
}

} // namespace
