// clarow watching an adapter on another machine and feeding a monitoring stack: the real
// program, offscreen, with the simulator behind a real ser2net on 127.0.0.1, scraped by
// promtool and a real Prometheus. The database is read in one read transaction per look.
#include "DbSnapshot.h"
#include "NetworkServers.h"
#include "TestHome.h"

#include "core/Helpers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

class Clarow
{
public:
    // port1: the [Ports] entry of port 1 (none when empty); metrics: setting MetricsAddress.
    Clarow(const QString &home, const QString &config, const QString &port1, const QString &metrics)
    {
        QSettings store(QDir(config).filePath(QStringLiteral("Quillmark/Quillmark.conf")), QSettings::IniFormat);
        if (!port1.isEmpty())
            store.setValue(QStringLiteral("Ports/1"), port1);
        if (!metrics.isEmpty())
            store.setValue(QStringLiteral("ClarowMon/MetricsAddress"), metrics);
        store.sync();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("CLAROW_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("CLAROW_UNATTENDED"), QStringLiteral("1"));
        for (int n = 2; n <= 16; ++n)
            env.insert(QStringLiteral("VARNEX_PORT_%1").arg(n), QStringLiteral("/nonexistent/port%1").arg(n));
        env.remove(QStringLiteral("VARNEX_PORT_1"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(CLAROW_BIN_DIR) + QStringLiteral("/clarow"), {});
        process.waitForStarted(10000);
    }
    ~Clarow()
    {
        StopProcess(process);
    }
    // Everything the program wrote so far.
    QString output()
    {
        m_output += QString::fromLocal8Bit(process.readAll());
        return m_output;
    }
    // The port the exporter reports it serves on; 0 until it has.
    quint16 metricsPort()
    {
        static const QRegularExpression served(QStringLiteral("metrics at http://127\\.0\\.0\\.1:(\\d+)/metrics"));
        return static_cast<quint16>(served.match(output()).captured(1).toUInt());
    }
    QProcess process;

private:
    QString m_output;
};

// True when the process has a listening TCP socket.
bool listens(qint64 pid)
{
    QSet<QString> listening;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 9 && fields[3] == "0A")
                listening.insert(QStringLiteral("socket:[%1]").arg(QString::fromLatin1(fields[9])));
        }
    }
    QDirIterator fds(QStringLiteral("/proc/%1/fd").arg(pid), QDir::System | QDir::Files);
    while (fds.hasNext()) {
        if (listening.contains(QFileInfo(fds.next()).symLinkTarget().section(QLatin1Char('/'), -1)))
            return true;
    }
    return false;
}

const QString kSensors = QStringLiteral(
    "SELECT SensorID, cTmp, cCh2, Connected, InAlarm, AlType, LastR FROM Sensors ORDER BY SensorID");
const QString kHistory = QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT lTemp) FROM LogTbl");

// Every row of Sensors against the exposition (temperature, second channel, flags): what
// differs, one text per value.
QStringList metricsMismatches(const QList<QVariantList> &rows, const QMap<QString, QString> &m)
{
    QStringList out;
    for (const QVariantList &row : rows) {
        const QString id = row[0].toString();
        const auto series = [&](const char *name) {
            for (auto it = m.begin(); it != m.end(); ++it) {
                if (it.key().startsWith(QLatin1String(name) + QStringLiteral("{sensor=\"%1\"").arg(id)))
                    return it.value();
            }
            return QStringLiteral("absent");
        };
        const auto expect = [&](const char *name, const QString &value) {
            if (series(name) != value)
                out << QStringLiteral("%1 of %2: %3, table %4").arg(QLatin1String(name), id, series(name), value);
        };
        expect("clarow_sensor_temperature_celsius", SingleText(row[1].toFloat()));
        if (!row[2].isNull())
            expect("clarow_sensor_second_channel_value", SingleText(row[2].toFloat()));
        expect("clarow_sensor_connected", QString::number(row[3].toInt()));
        expect("clarow_sensor_in_alarm", QString::number(row[4].toInt()));
        expect("clarow_sensor_alarm_type", QString::number(row[5].toInt()));
    }
    return out;
}

// The page is rebuilt just after a scan has stored its rows: scrapes until the exposition
// shows what the table holds (at most 10 seconds); the last scrape.
HttpReply scrapeMatching(quint16 port, const QString &database, QList<QList<QVariantList>> &db)
{
    HttpReply scrape;
    WaitUntil([&] {
        scrape = HttpRequest(port, "/metrics");
        db = ReadTogether(database, {kSensors, kHistory});
        return scrape.status == 200 && metricsMismatches(db.value(0), ExpositionSamples(scrape.body)).isEmpty();
    }, 10000);
    return scrape;
}

} // namespace

TEST(RemoteMonitoringE2E, AdapterBehindSer2Net_ScrapedByPrometheus_RidesOutABridgeOutage)
{
    for (const char *program : {"ser2net", "promtool", "prometheus"}) {
        if (!HaveProgram(QLatin1String(program)))
            GTEST_SKIP() << program << " is not installed (tools/install-deps installs it)";
    }
    TestHome home;
    QTemporaryDir config;
    Ser2Net bridge(QStringLiteral("sensor 28A1B2C3D4E5F60A temp=21.5\n"
                                  "sensor 28A1B2C3D4E5F60E temp=61.5\n"
                                  "sensor 26A1B2C3D4E5F60B 19 temp=23.5 humidity=45\n"));
    ASSERT_TRUE(bridge.start()) << bridge.log();
    Clarow clarow(home.path(), config.path(), bridge.deviceName(), QStringLiteral("127.0.0.1:0"));

    // Discovery finds the adapter through the bridge; the first scan stores the sensors.
    ASSERT_TRUE(WaitUntil([&] { return clarow.metricsPort() != 0; }, 15000)) << clarow.output().toStdString();
    EXPECT_TRUE(listens(clarow.process.processId()));
    QList<QList<QVariantList>> db;
    ASSERT_TRUE(WaitUntil([&] {
        db = ReadTogether(home.databasePath(), {kSensors, kHistory});
        return db.value(0).size() == 3;
    }, 40000)) << clarow.output().toStdString() << bridge.log();
    const quint16 port = clarow.metricsPort();

    // The exposition shows what the table holds, and promtool takes it as it is.
    HttpReply scrape = scrapeMatching(port, home.databasePath(), db);
    ASSERT_EQ(scrape.status, 200);
    const QStringList mismatches = metricsMismatches(db[0], ExpositionSamples(scrape.body));
    EXPECT_TRUE(mismatches.isEmpty()) << mismatches.join(QLatin1Char('\n')).toStdString();
    const ToolRun check = RunTool(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")}, scrape.body);
    EXPECT_EQ(check.exitCode, 0) << check.output.constData();

    {
        Prometheus prometheus(port);
        ASSERT_TRUE(prometheus.started()) << prometheus.log().toStdString();
        QJsonArray series;
        EXPECT_TRUE(WaitUntil([&] {
            series = prometheus.query(QStringLiteral("clarow_sensor_temperature_celsius"));
            return series.size() == 3;
        }, 30000)) << prometheus.log().toStdString();
    }

    // The bridge goes away: scans fail and leave what was stored alone.
    bridge.stop();
    db = ReadTogether(home.databasePath(), {kSensors, kHistory});
    ASSERT_EQ(db.value(0).size(), 3);
    const double lastRead = db[0][0][6].toDouble();
    const QVariantList history = db[1].value(0);
    ASSERT_TRUE(WaitUntil([&] {
        return ExpositionSamples(HttpRequest(port, "/metrics").body).value(QStringLiteral("clarow_scans_failed_total")).toInt() >= 1;
    }, 90000)) << clarow.output().toStdString();
    const auto during = ReadTogether(home.databasePath(), {kSensors, kHistory});
    ASSERT_EQ(during.value(0).size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(during[0][i][0], db[0][i][0]);
        EXPECT_EQ(during[0][i][1], db[0][i][1]);
        EXPECT_EQ(during[0][i][2], db[0][i][2]);
        EXPECT_EQ(during[0][i][6], db[0][i][6]);
    }
    EXPECT_EQ(during[1].value(0), history); // no history row added

    // The bridge is back: the next scan reads again, without restarting clarow.
    ASSERT_TRUE(bridge.start()) << bridge.log();
    ASSERT_TRUE(WaitUntil([&] {
        db = ReadTogether(home.databasePath(), {kSensors, kHistory});
        return db.value(0).size() == 3 && db[0][0][6].toDouble() > lastRead;
    }, 90000)) << clarow.output().toStdString() << bridge.log();
    EXPECT_EQ(clarow.process.state(), QProcess::Running);

    // By now the hot sensor is in alarm, and the exposition says so.
    scrape = scrapeMatching(port, home.databasePath(), db);
    EXPECT_EQ(db[0][2][4].toInt(), 1); // 28...0E, at 61.5 °C
    const QStringList after = metricsMismatches(db[0], ExpositionSamples(scrape.body));
    EXPECT_TRUE(after.isEmpty()) << after.join(QLatin1Char('\n')).toStdString();
}

TEST(RemoteMonitoringE2E, WithoutAMetricsAddressNothingListens)
{
    TestHome home;
    QTemporaryDir config;
    Clarow clarow(home.path(), config.path(), {}, {});
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(home.file(QStringLiteral("clarow.lock"))); }, 15000));
    // Past the point where the exporter would have started.
    WaitUntil([] { return false; }, 2000);
    EXPECT_EQ(clarow.process.state(), QProcess::Running) << clarow.output().toStdString();
    EXPECT_FALSE(listens(clarow.process.processId()));
    EXPECT_FALSE(clarow.output().contains(QLatin1String("metrics")));
}
