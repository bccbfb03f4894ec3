// The clarow program as a user runs it: a real process, offscreen, with the adapter
// simulator on a pseudo-terminal and its own program folder and settings.
#include "SimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace clarow::test;

namespace {

class ClarowRun
{
public:
    explicit ClarowRun(const QString &home, const QString &config, const QString &port1,
                       bool unattended = true)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("CLAROW_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        if (unattended)
            env.insert(QStringLiteral("CLAROW_UNATTENDED"), QStringLiteral("1"));
        else
            env.remove(QStringLiteral("CLAROW_UNATTENDED"));
        for (int n = 1; n <= 16; ++n)
            env.insert(QStringLiteral("VARNEX_PORT_%1").arg(n), QStringLiteral("/nonexistent/port%1").arg(n));
        if (!port1.isEmpty())
            env.insert(QStringLiteral("VARNEX_PORT_1"), port1);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(CLAROW_BIN_DIR) + QStringLiteral("/clarow"), {});
        process.waitForStarted();
    }
    ~ClarowRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    QProcess process;
};

// A count from the database file, read over a connection of its own.
int count(const QString &dbPath, const QString &sql)
{
    int n = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
        db.setDatabaseName(dbPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next())
                n = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return n;
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (done())
            return true;
        QThread::msleep(200);
    }
    return done();
}

class ClarowProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::copy(QStringLiteral(CLAROW_EMPTY_DB), db()));
        QFile::setPermissions(db(), QFile::ReadOwner | QFile::WriteOwner);
    }
    [[nodiscard]] QString db() const { return QDir(home.path()).filePath(QStringLiteral("clarowdata.mdb")); }

    QTemporaryDir home;
    QTemporaryDir config;
};

} // namespace

TEST_F(ClarowProcess, SigtermDuringARunResetsTheSensorsAndWritesTheSettings)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    ClarowRun clarow(home.path(), config.path(), sim.path());
    ASSERT_TRUE(waitFor([&] { return count(db(), QStringLiteral("SELECT COUNT(*) FROM Sensors WHERE Connected=1")) > 0; }, 30000))
        << clarow.process.readAll().constData();

    clarow.process.terminate();
    ASSERT_TRUE(clarow.process.waitForFinished(10000));
    EXPECT_EQ(clarow.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(clarow.process.exitCode(), 0);

    EXPECT_GT(count(db(), QStringLiteral("SELECT COUNT(*) FROM Sensors")), 0);
    EXPECT_EQ(count(db(), QStringLiteral(
                  "SELECT COUNT(*) FROM Sensors WHERE InAlarm<>0 OR AlType<>0 OR Connected<>0 "
                  "OR ConcAlarms<>0 OR MailSent<>0 OR LastR<>0")),
              0);
    QSettings s(QDir(config.path()).filePath(QStringLiteral("Quillmark/Quillmark.conf")), QSettings::IniFormat);
    EXPECT_EQ(s.value(QStringLiteral("ClarowMon/MdiLeft")).toString(), QStringLiteral("1000"));
    EXPECT_EQ(s.value(QStringLiteral("ClarowMon/CfTop")).toString(), QStringLiteral("100"));
}

TEST_F(ClarowProcess, ASecondProgramOnTheSameFolderSaysSoAndEnds)
{
    ClarowRun first(home.path(), config.path(), {});
    ASSERT_TRUE(waitFor([&] { return QFile::exists(QDir(home.path()).filePath(QStringLiteral("clarow.lock"))); }, 10000));

    ClarowRun second(home.path(), config.path(), {});
    ASSERT_TRUE(second.process.waitForFinished(10000));
    EXPECT_EQ(second.process.exitCode(), 1);
    EXPECT_TRUE(second.process.readAll().contains("already running"));
    EXPECT_EQ(first.process.state(), QProcess::Running);

    first.process.terminate();
    EXPECT_TRUE(first.process.waitForFinished(10000));
}

TEST_F(ClarowProcess, AMissingDatabaseEndsWithErrorLoadingClarow)
{
    QFile::remove(db());
    ClarowRun clarow(home.path(), config.path(), {});
    ASSERT_TRUE(clarow.process.waitForFinished(20000));
    EXPECT_EQ(clarow.process.exitCode(), 1);
    EXPECT_TRUE(clarow.process.readAll().contains("Error loading Clarow"));
    EXPECT_FALSE(QFile::exists(db()));
}

TEST_F(ClarowProcess, SigtermEndsTheProgramEvenWhileAMessageBoxIsOpen)
{
    // No adapter anywhere: the start-up ends in the "Varnex not found" box, a real one.
    ClarowRun clarow(home.path(), config.path(), {}, false);
    ASSERT_TRUE(waitFor([&] { return QFile::exists(QDir(home.path()).filePath(QStringLiteral("clarow.lock"))); }, 10000));
    QThread::msleep(1500);
    ASSERT_EQ(clarow.process.state(), QProcess::Running);

    clarow.process.terminate();
    ASSERT_TRUE(clarow.process.waitForFinished(10000));
    EXPECT_EQ(clarow.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(clarow.process.exitCode(), 0);
    QSettings s(QDir(config.path()).filePath(QStringLiteral("Quillmark/Quillmark.conf")), QSettings::IniFormat);
    EXPECT_EQ(s.value(QStringLiteral("ClarowMon/MdiTop")).toString(), QStringLiteral("1000"));
}
