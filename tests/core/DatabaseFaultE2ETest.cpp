// What the disk can do to the database while the program monitors: another program holds a
// write lock, the file turns read-only, is deleted or the disk fills up; and the program is
// killed in the middle of its scans. The program must go on scanning, lose no row it had
// committed, leave a sound file and store again by itself once the fault is over.
#include "DbSnapshot.h"
#include "MonitorRun.h"
#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "TestHome.h"

#include "core/Helpers.h"
#include "link/Clock.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kScenario = QStringLiteral("sensor 28A1B2C3D4E5F60A temp=21.5\n"
                                         "sensor 26A1B2C3D4E5F60B 19 temp=23.5 humidity=45\n");
const QString kRowsSql = QStringLiteral("SELECT SensorID, lTime, lTemp FROM LogTbl ORDER BY lTime, SensorID");

QString IntegrityOf(const QString &file)
{
    const auto rows = ReadTogether(file, {QStringLiteral("PRAGMA integrity_check")});
    return rows.value(0).value(0).value(0).toString();
}

// The history rows, each as one text, read in one transaction.
QSet<QString> HistoryRows(const QString &file)
{
    QSet<QString> rows;
    for (const QVariantList &r : ReadTogether(file, {kRowsSql}).value(0))
        rows << r.value(0).toString() + QLatin1Char('|') + r.value(1).toString() + QLatin1Char('|') + r.value(2).toString();
    return rows;
}

// The program folder's file made unwritable: by its mode, and for a root user (whom modes do
// not stop) by the immutable attribute.
void SetWritable(const QString &file, bool writable)
{
    if (::geteuid() == 0) {
        QProcess::execute(QStringLiteral("chattr"), {writable ? QStringLiteral("-i") : QStringLiteral("+i"), file});
        return;
    }
    QFile::setPermissions(file, writable ? QFileDevice::ReadOwner | QFileDevice::WriteOwner : QFileDevice::ReadOwner);
}

struct Fault
{
    std::function<void(TestHome &)> breakIt;
    std::function<void(TestHome &)> mendIt;
};

struct DatabaseFault
{
    const char *name;
    int scansBroken;
    bool keepsEarlierRows; // false when the fault itself takes the rows away (the file deleted)
    const char *logged;    // what the diagnostic log says of it (empty: nothing failed)
    std::function<Fault()> make;
};

std::vector<DatabaseFault> Faults()
{
    return {
        {"AnotherProgramHoldsAWriteLockFor10s", 2, true, "Error processing Varnex data: database is locked",
         [] {
             auto lock = std::make_shared<QProcess>();
             auto since = std::make_shared<QElapsedTimer>();
             return Fault{[lock, since](TestHome &home) {
                              lock->start(QStringLiteral("sqlite3"), {home.databasePath()});
                              lock->waitForStarted();
                              lock->write("BEGIN EXCLUSIVE;\n");
                              since->start();
                          },
                          [lock, since](TestHome &) {
                              RunUntil([&] { return since->elapsed() >= 10000; }, 12000);
                              lock->write("COMMIT;\n.quit\n");
                              lock->closeWriteChannel();
                              lock->waitForFinished();
                          }};
         }},
        {"FileMadeReadOnly", 2, true, "",
         [] {
             return Fault{[](TestHome &home) { SetWritable(home.databasePath(), false); },
                          [](TestHome &home) { SetWritable(home.databasePath(), true); }};
         }},
        {"FileDeletedAndPutBack", 2, false, "Error processing Varnex data: Could not find file",
         [] {
             return Fault{[](TestHome &home) { QFile::remove(home.databasePath()); },
                          [](TestHome &home) {
                              QFile::copy(QStringLiteral(CLAROW_EMPTY_DB), home.databasePath());
                              QFile::setPermissions(home.databasePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
                          }};
         }},
        {"DiskFull", 3, true, "Error processing Varnex data: disk I/O error",
         [] {
             // No write may reach past the first 4 KB of any file, as on a full disk; the
             // process is told so by its writes failing, not by a signal.
             auto old = std::make_shared<rlimit>();
             return Fault{[old](TestHome &) {
                              std::signal(SIGXFSZ, SIG_IGN);
                              ::getrlimit(RLIMIT_FSIZE, old.get());
                              rlimit full = *old;
                              full.rlim_cur = 4096;
                              ::setrlimit(RLIMIT_FSIZE, &full);
                          },
                          [old](TestHome &) { ::setrlimit(RLIMIT_FSIZE, old.get()); }};
         }},
    };
}

class DatabaseFaultE2E : public ::testing::TestWithParam<DatabaseFault>
{
};

TEST_P(DatabaseFaultE2E, ScanningGoesOnAndStoresAgainOnceTheFaultIsOver)
{
    const DatabaseFault &param = GetParam();
    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
    SimProcess sim(kScenario);
    ASSERT_TRUE(sim.started()) << sim.log().toStdString();
    sim.attachAsPort(1);
    StoreSettings({{QStringLiteral("LogErrors"), QStringLiteral("True")}});
    // A read-only file still takes the rows: they wait in the write-ahead log beside it.

    MonitorRun run;
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.runScans(2, 60000)) << run.statusText();
    const QSet<QString> before = HistoryRows(home.databasePath());
    // The scan at start-up may end within its start second and log nothing; the next does.
    ASSERT_GE(before.size(), 2) << run.statusText();

    Fault fault = param.make();
    fault.breakIt(home);
    const bool scannedThrough = run.runScans(param.scansBroken, 120000);
    fault.mendIt(home);
    ASSERT_TRUE(scannedThrough) << run.statusText();
    const QDateTime mended = NowWholeSeconds();
    ASSERT_TRUE(run.runScans(3, 90000)) << run.statusText();

    EXPECT_EQ(IntegrityOf(home.databasePath()), QStringLiteral("ok"));
    const QSet<QString> after = HistoryRows(home.databasePath());
    if (param.keepsEarlierRows) {
        EXPECT_TRUE(after.contains(before)) << "rows committed before the fault are gone";
    }
    // Stored again: both sensors have rows from after the fault, with the values sent.
    int fresh = 0;
    for (const QVariantList &r : ReadTogether(home.databasePath(), {kRowsSql}).value(0)) {
        const double temp = r.value(2).toDouble();
        EXPECT_TRUE(temp == 21.5 || temp == 23.5) << r.value(0).toString().toStdString();
        if (FromSerial(r.value(1).toDouble()) >= mended)
            ++fresh;
    }
    EXPECT_GE(fresh, 4) << run.statusText();
    // The fault was noted in the diagnostic log in the program's words, its end too.
    QString log;
    for (const QString &name : QDir(home.path()).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name))
        log += home.readFile(name);
    EXPECT_TRUE(log.contains(QLatin1String(param.logged))) << log.toStdString();
    for (const ScriptedPrompter::Box &b : boxes.boxes)
        ADD_FAILURE() << "message box: " << b.text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Disk, DatabaseFaultE2E, ::testing::ValuesIn(Faults()),
                         [](const auto &info) { return std::string(info.param.name); });

// clarow killed with SIGKILL at varying moments of its first scans, twenty times over one
// program folder: the file stays sound and no row committed before a kill is missing.
TEST(KillDuringScans, TwentyKillsLeaveASoundFileWithEveryCommittedRow)
{
    TestHome home;
    QTemporaryDir config;
    NoRealPorts noPorts;
    // Ten sensors whose reply takes about two seconds (the identification line still comes
    // in one piece), so the kills fall before, during and after its storing.
    QString bus;
    for (int i = 0; i < 10; ++i)
        bus += QStringLiteral("sensor 28A1B2C3D4E5F6%1 temp=2%2.5\n").arg(i, 2, 10, QLatin1Char('0')).arg(i);
    SimProcess sim(bus + QStringLiteral("fault slow 14 100\n"));
    ASSERT_TRUE(sim.started());

    QSet<QString> committed;
    for (int round = 0; round < 20; ++round) {
        QProcess clarow;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("CLAROW_HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("CLAROW_UNATTENDED"), QStringLiteral("1"));
        env.insert(QStringLiteral("VARNEX_PORT_1"), sim.path());
        clarow.setProcessEnvironment(env);
        clarow.setProcessChannelMode(QProcess::MergedChannels);
        const int readings = sim.log().count(QStringLiteral("D: reading"));
        clarow.start(QStringLiteral(CLAROW_BIN_DIR) + QStringLiteral("/clarow"), {});
        ASSERT_TRUE(clarow.waitForStarted(10000));
        // Wait for the scan's command, then kill somewhere in the reply (about a second)
        // or its storing: a later moment each round.
        const QDeadlineTimer deadline(30000);
        while (sim.log().count(QStringLiteral("D: reading")) == readings && !deadline.hasExpired())
            clarow.waitForFinished(20);
        ASSERT_FALSE(deadline.hasExpired()) << clarow.readAll().toStdString();
        QThread::msleep(round * 150);
        ::kill(static_cast<pid_t>(clarow.processId()), SIGKILL);
        clarow.waitForFinished(10000);

        ASSERT_EQ(IntegrityOf(home.databasePath()), QStringLiteral("ok")) << "round " << round;
        const QSet<QString> now = HistoryRows(home.databasePath());
        ASSERT_TRUE(now.contains(committed)) << "round " << round << ": committed rows lost";
        committed = now;
    }
    // Some kills came after the storing: the history grew.
    EXPECT_GE(committed.size(), 2);
}

} // namespace
