// The metrics exporter on a real database file, served over HTTP on 127.0.0.1 and checked by
// Prometheus's own promtool.
#include "link/Clock.h"
#include "monitor/Metrics.h"
#include "shell/Database.h"
#include "shell/Program.h"
#include "NetworkServers.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QSettings>

#include <gtest/gtest.h>

#include <future>

using namespace clarow;
using namespace clarow::test;

namespace {

// A request from another thread, so that the exporter keeps serving on this one.
HttpReply fetch(quint16 port, const QByteArray &path, const QByteArray &method = "GET")
{
    auto reply = std::async(std::launch::async, [=] { return HttpRequest(port, path, method); });
    while (reply.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return reply.get();
}

} // namespace

TEST(Metrics, ServesTheSensorsTableInCelsiusWithCountersAndPromtoolAcceptsIt)
{
    TestHome home;
    OpenDatabase();
    program().settings.CorF = QStringLiteral("F");
    const QString ins = QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, cCh2, wStatus, Connected, "
                                       "InAlarm, AlType) VALUES (?,?,?,?,?,?,?,?)");
    // A location as a user may type it: quotes, a backslash, a line break.
    Exec(ins, {QStringLiteral("28A1B2C3D4E5F60A"), QStringLiteral("Rack \"B\"\\2\nTop"), 70.7, QVariant(), QVariant(), 1, 0, 0});
    Exec(ins, {QStringLiteral("26A1B2C3D4E5F60C 1E"), QStringLiteral("Cellar"), 32.0, 80.5, 1, 0, 1, 9});
    Exec(ins, {QStringLiteral("26A1B2C3D4E5F60D 1C"), QStringLiteral("Plant"), QVariant(), 35.5, QVariant(), 1, 0, 0});
    ResetMetricCounters();
    CountScan(ZeroDate());
    const QDateTime read(QDate(2026, 12, 7), QTime(11, 0, 0));
    CountScan(read);
    CountMail(true);
    CountMail(false);
    CountMail(false);

    MetricsExporter exporter;
    ASSERT_TRUE(exporter.listen(QStringLiteral("127.0.0.1:0"))) << exporter.errorText().toStdString();
    const HttpReply r = fetch(exporter.port(), "/metrics");
    ASSERT_EQ(r.status, 200);

    const QString rack = QStringLiteral("sensor=\"28A1B2C3D4E5F60A\",location=\"Rack \\\"B\\\"\\\\2\\nTop\"");
    const QString cellar = QStringLiteral("sensor=\"26A1B2C3D4E5F60C 1E\",location=\"Cellar\"");
    const QString plant = QStringLiteral("sensor=\"26A1B2C3D4E5F60D 1C\",location=\"Plant\"");
    const QMap<QString, QString> got = ExpositionSamples(r.body);
    const QMap<QString, QString> expected = {
        {QStringLiteral("clarow_sensor_temperature_celsius{%1}").arg(rack), QStringLiteral("21.5")},
        {QStringLiteral("clarow_sensor_temperature_celsius{%1}").arg(cellar), QStringLiteral("0")},
        {QStringLiteral("clarow_sensor_second_channel_value{%1,kind=\"humidity\"}").arg(cellar), QStringLiteral("80.5")},
        {QStringLiteral("clarow_sensor_second_channel_value{%1,kind=\"current\"}").arg(plant), QStringLiteral("35.5")},
        {QStringLiteral("clarow_sensor_water_status{%1}").arg(cellar), QStringLiteral("1")},
        {QStringLiteral("clarow_sensor_connected{%1}").arg(rack), QStringLiteral("1")},
        {QStringLiteral("clarow_sensor_connected{%1}").arg(cellar), QStringLiteral("0")},
        {QStringLiteral("clarow_sensor_connected{%1}").arg(plant), QStringLiteral("1")},
        {QStringLiteral("clarow_sensor_in_alarm{%1}").arg(rack), QStringLiteral("0")},
        {QStringLiteral("clarow_sensor_in_alarm{%1}").arg(cellar), QStringLiteral("1")},
        {QStringLiteral("clarow_sensor_in_alarm{%1}").arg(plant), QStringLiteral("0")},
        {QStringLiteral("clarow_sensor_alarm_type{%1}").arg(rack), QStringLiteral("0")},
        {QStringLiteral("clarow_sensor_alarm_type{%1}").arg(cellar), QStringLiteral("9")},
        {QStringLiteral("clarow_sensor_alarm_type{%1}").arg(plant), QStringLiteral("0")},
        {QStringLiteral("clarow_last_complete_reading_timestamp_seconds"), QString::number(read.toSecsSinceEpoch())},
        {QStringLiteral("clarow_scans_total"), QStringLiteral("2")},
        {QStringLiteral("clarow_scans_failed_total"), QStringLiteral("1")},
        {QStringLiteral("clarow_mails_sent_total"), QStringLiteral("1")},
        {QStringLiteral("clarow_mails_failed_total"), QStringLiteral("2")},
        {QStringLiteral("clarow_build_info{version=\"%1\"}").arg(QStringLiteral(CLAROW_VERSION)), QStringLiteral("1")},
    };
    EXPECT_EQ(got, expected) << r.body.constData();
    CloseConnection();

    if (!HaveProgram(QStringLiteral("promtool")))
        GTEST_SKIP() << "promtool is not installed (package prometheus, tools/install-deps installs it)";
    const ToolRun check = RunTool(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")}, r.body);
    EXPECT_EQ(check.exitCode, 0) << check.output.constData() << r.body.constData();
    EXPECT_TRUE(check.output.trimmed().isEmpty()) << check.output.constData();
    // The README's scrape job and alerting rules, as Prometheus reads them.
    const ToolRun config = RunTool(QStringLiteral("promtool"),
                                   {QStringLiteral("check"), QStringLiteral("config"),
                                    QStringLiteral(CLAROW_SOURCE_DIR "/tools/monitoring/prometheus.yml")});
    EXPECT_EQ(config.exitCode, 0) << config.output.constData();
}

TEST(Metrics, ServesOnlyGetMetricsAndOnlyOnTheAddressGiven)
{
    TestHome home;
    MetricsExporter exporter;
    ASSERT_TRUE(exporter.listen(QStringLiteral("127.0.0.1:0")));
    const struct
    {
        const char *method;
        const char *path;
        bool served;
    } requests[] = {
        {"GET", "/metrics", true}, {"GET", "/", false}, {"GET", "/metrics/../etc/passwd", false},
        {"POST", "/metrics", false}, {"DELETE", "/metrics", false},
    };
    for (const auto &q : requests) {
        const HttpReply r = fetch(exporter.port(), q.path, q.method);
        EXPECT_EQ(r.status == 200, q.served) << q.method << ' ' << q.path << ' ' << r.status;
        EXPECT_NE(r.status, 0) << q.method << ' ' << q.path;
    }

    // The address is taken as given; anything else is refused with the reason.
    MetricsExporter second;
    EXPECT_FALSE(second.listen(QStringLiteral("127.0.0.1:%1").arg(exporter.port())));
    EXPECT_FALSE(second.errorText().isEmpty());
    for (const char *bad : {"9464", "127.0.0.1", "127.0.0.1:99999", "::1:9464", "example:9464", ":9464"}) {
        QString why;
        EXPECT_FALSE(ParseListenAddress(QLatin1String(bad), &why)) << bad;
        EXPECT_TRUE(why.contains(QLatin1String(bad))) << why.toStdString();
    }
    EXPECT_EQ(ParseListenAddress(QStringLiteral("[::1]:9464"))->host, QHostAddress(QHostAddress::LocalHostIPv6));
    EXPECT_EQ(ParseListenAddress(QStringLiteral("localhost:9464"))->host, QHostAddress(QHostAddress::LocalHost));

    // The command line beats the setting; without either nothing is served.
    QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    const QString app = QStringLiteral("clarow");
    EXPECT_EQ(MetricsAddressFor({app}), QString());
    EXPECT_EQ(StartMetrics({app}), nullptr);
    store.setValue(QStringLiteral("ClarowMon/MetricsAddress"), QStringLiteral("127.0.0.1:9464"));
    EXPECT_EQ(MetricsAddressFor({app}), QStringLiteral("127.0.0.1:9464"));
    EXPECT_EQ(MetricsAddressFor({app, QStringLiteral("--metrics"), QStringLiteral("[::1]:1")}), QStringLiteral("[::1]:1"));
    EXPECT_EQ(MetricsAddressFor({app, QStringLiteral("--metrics=127.0.0.1:2")}), QStringLiteral("127.0.0.1:2"));
    store.remove(QStringLiteral("ClarowMon/MetricsAddress"));
}
