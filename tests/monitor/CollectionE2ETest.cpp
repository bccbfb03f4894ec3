// clarow as the operator runs it: the real program, offscreen, on the adapter simulator's
// pseudo-terminal, with its own program folder and settings. What it stores is read from the
// database file through a connection of the test's own, in one read transaction.
#include "DbSnapshot.h"
#include "SimProcess.h"
#include "TestHome.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace clarow::test;

namespace {

// The reply takes over a second to arrive, as a real bus's does, so the first scan's reading
// always ends after the second the schedule started in.
const QString kScenario = QStringLiteral("sensor 28A1B2C3D4E5F60A temp=21.5\n"
                                         "sensor 26A1B2C3D4E5F60B 19 temp=23.5 humidity=45\n"
                                         "fault slow 20 400\n");

struct Row
{
    QString id;
    double temp = 0;
    QVariant ch2;
};

QList<Row> ToRows(const QList<QVariantList> &values)
{
    QList<Row> rows;
    for (const QVariantList &v : values)
        rows.append({v.value(0).toString(), v.value(1).toDouble(), v.value(2)});
    return rows;
}

class ClarowProcess
{
public:
    ClarowProcess(const QString &home, const QString &config)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("CLAROW_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        // Message boxes go to the output, answered as dismissed: nobody is there to click.
        env.insert(QStringLiteral("CLAROW_UNATTENDED"), QStringLiteral("1"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(CLAROW_BIN_DIR) + QStringLiteral("/clarow"), {});
    }
    ~ClarowProcess()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    QProcess &process() { return m_process; }

    // Asks the program to end as a desktop log-out does; true when it ended in time.
    bool terminate(int ms)
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        return m_process.waitForFinished(ms);
    }

private:
    QProcess m_process;
};

TEST(CollectionE2E, ClarowOnTheSimulator_StoresCurrentValuesAndHistory)
{
    TestHome home;
    QTemporaryDir config;
    NoRealPorts noRealPorts;
    SimProcess sim(kScenario);
    ASSERT_TRUE(sim.started()) << sim.log().toStdString();
    sim.attachAsPort(1);

    ClarowProcess clarow(home.path(), config.path());
    ASSERT_TRUE(clarow.process().waitForStarted(10000));

    const QString sensorsSql = QStringLiteral("SELECT SensorID, cTmp, cCh2 FROM Sensors ORDER BY SensorID");
    const QString historySql = QStringLiteral("SELECT SensorID, lTemp, lCh2 FROM LogTbl ORDER BY SensorID");
    QList<Row> sensors;
    QList<Row> history;
    // The current values and the history come with the first scan, seconds after the start;
    // the history takes only a reading received after the start second, so a scan that
    // ends within it would be logged a minute later.
    const QDeadlineTimer sensorsDeadline(25000);
    const QDeadlineTimer historyDeadline(80000);
    while (clarow.process().state() == QProcess::Running) {
        // Both in one read: a scan may commit between two separate ones.
        const auto both = ReadTogether(home.databasePath(), {sensorsSql, historySql});
        sensors = ToRows(both.at(0));
        history = ToRows(both.at(1));
        if (history.size() >= 2 || historyDeadline.hasExpired())
            break;
        if (sensors.size() < 2 && sensorsDeadline.hasExpired())
            break;
        clarow.process().waitForFinished(250);
    }
    const std::string output = clarow.process().readAll().toStdString();
    ASSERT_EQ(clarow.process().state(), QProcess::Running) << output;

    ASSERT_EQ(sensors.size(), 2) << output << sim.log().toStdString();
    EXPECT_EQ(sensors[0].id, QStringLiteral("26A1B2C3D4E5F60B 19"));
    EXPECT_DOUBLE_EQ(sensors[0].temp, 23.5);
    EXPECT_DOUBLE_EQ(sensors[0].ch2.toDouble(), 45.0);
    EXPECT_EQ(sensors[1].id, QStringLiteral("28A1B2C3D4E5F60A"));
    EXPECT_DOUBLE_EQ(sensors[1].temp, 21.5);

    // One history row per sensor.
    ASSERT_EQ(history.size(), 2) << output;
    EXPECT_EQ(history[0].id, QStringLiteral("26A1B2C3D4E5F60B 19"));
    EXPECT_DOUBLE_EQ(history[0].temp, 23.5);
    EXPECT_DOUBLE_EQ(history[0].ch2.toDouble(), 45.0);
    EXPECT_EQ(history[1].id, QStringLiteral("28A1B2C3D4E5F60A"));
    EXPECT_DOUBLE_EQ(history[1].temp, 21.5);
    EXPECT_TRUE(history[1].ch2.isNull());

    EXPECT_TRUE(clarow.terminate(10000));
}

} // namespace
