// The metrics exporter on a real database file, served over HTTP on 127.0.0.1 and checked by
// Prometheus's own promtool.
#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/Metrics.h"
#include "NetworkServers.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QSettings>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

using namespace clarow;
using namespace clarow::test;

namespace {

// A request from another thread while this one runs its events, on which the page is rebuilt.
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

TEST(Metrics, HostileLocationsStayInTheirLabelAndPromtoolAcceptsThePage)
{
    TestHome home;
    OpenDatabase();
    // Each location as it must appear between the label's quotes: only backslash, double quote
    // and line feed are escaped; a carriage return, a tab and any other character stand as is.
    const QList<QPair<QString, QString>> locations = {
        {QStringLiteral("Server room\r\nRack 2"), QStringLiteral("Server room\r\\nRack 2")},
        {QStringLiteral("Cold\rstore"), QStringLiteral("Cold\rstore")},
        {QStringLiteral("C:\\temp \"north\" \\n"), QStringLiteral("C:\\\\temp \\\"north\\\" \\\\n")},
        {QStringLiteral("Tab\there \u00e9\u2603 }{,="), QStringLiteral("Tab\there \u00e9\u2603 }{,=")},
        {QStringLiteral("ends in \\"), QStringLiteral("ends in \\\\")},
    };
    for (int i = 0; i < locations.size(); ++i)
        Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, Connected, InAlarm, AlType) VALUES (?,?,?,1,0,0)"),
             {QStringLiteral("28A1B2C3D4E5F6%1").arg(i, 2, 10, QLatin1Char('0')), locations[i].first, 20.5});

    MetricsExporter exporter;
    ASSERT_TRUE(exporter.listen(QStringLiteral("127.0.0.1:0")));
    const HttpReply r = fetch(exporter.port(), "/metrics");
    ASSERT_EQ(r.status, 200);
    const QMap<QString, QString> got = ExpositionSamples(r.body);
    for (int i = 0; i < locations.size(); ++i) {
        const QString key = QStringLiteral("clarow_sensor_temperature_celsius{sensor=\"28A1B2C3D4E5F6%1\",location=\"%2\"}")
                                .arg(i, 2, 10, QLatin1Char('0'))
                                .arg(locations[i].second);
        EXPECT_EQ(got.value(key), QStringLiteral("20.5")) << key.toStdString() << '\n' << r.body.constData();
    }
    CloseConnection();

    if (!HaveProgram(QStringLiteral("promtool")))
        GTEST_SKIP() << "promtool is not installed (package prometheus, tools/install-deps installs it)";
    const ToolRun check = RunTool(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")}, r.body);
    EXPECT_EQ(check.exitCode, 0) << check.output.constData() << r.body.constData();
}

TEST(Metrics, HttpServerRefusesLargeHeadsAndBodies_HoldsAtMost64Connections_ClosesIdleOnes)
{
    TestHome home;
    // A long time-out here, so that only the connection limit closes anything.
    HttpLimits patient;
    patient.idleSeconds = 600;
    MetricsExporter exporter(patient);
    ASSERT_TRUE(exporter.listen(QStringLiteral("127.0.0.1:0")));
    const quint16 port = exporter.port();

    const QByteArray get = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    const struct
    {
        const char *what;
        QByteArray request;
        int status; // 0: refused without an answer or with 431
    } requests[] = {
        {"GET", get + "\r\n", 200},
        {"HEAD", "HEAD /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 200},
        {"head of 7 KiB", get + "X-Fill: " + QByteArray(7 * 1024, 'a') + "\r\n\r\n", 200},
        {"head of 9 KiB", get + "X-Fill: " + QByteArray(9 * 1024, 'a') + "\r\n\r\n", 431},
        {"head of 40 KiB", get + "X-Fill: " + QByteArray(40 * 1024, 'a') + "\r\n\r\n", 0},
        {"body", get + "Content-Length: 5\r\n\r\nhello", 413},
        {"chunked body", get + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 413},
        {"POST", "POST /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\n{}", 405},
    };
    for (const auto &q : requests) {
        TcpConnection c(port);
        c.send(q.request);
        const int status = HttpStatus(c.readAll());
        if (q.status == 0)
            EXPECT_TRUE(status == 0 || status == 431) << q.what << ' ' << status;
        else
            EXPECT_EQ(status, q.status) << q.what;
    }

    // A head that never ends: the server stops reading early and its memory does not grow.
    const QByteArray chunk(1024 * 1024, 'a');
    const qint64 before = ResidentKiB();
    qint64 sent = 0;
    {
        TcpConnection endless(port);
        endless.send(get + "X-Fill: ");
        for (int i = 0; i < 200; ++i) {
            const qint64 n = endless.send(chunk, 2000);
            sent += n;
            if (n < chunk.size())
                break;
        }
    }
    EXPECT_LT(sent, 64 * chunk.size());
    EXPECT_LT(ResidentKiB() - before, 4 * 1024) << "KiB before: " << before;

    // 100 idle connections: the newest 64 are held, the oldest give way.
    std::vector<std::unique_ptr<TcpConnection>> idle;
    for (int i = 0; i < 100; ++i)
        idle.push_back(std::make_unique<TcpConnection>(port));
    const auto closed = [&] {
        int n = 0;
        for (const auto &c : idle)
            n += c->closedByPeer() ? 1 : 0;
        return n;
    };
    EXPECT_TRUE(WaitUntil([&] { return closed() >= 36; }, 10000)) << closed();
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(idle[i]->closedByPeer(), i < 36) << "connection " << i;
    // A scrape still gets through, and the oldest one left makes room for it.
    EXPECT_EQ(fetch(port, "/metrics").status, 200);
    EXPECT_TRUE(idle[36]->closedByPeer(5000));
    EXPECT_FALSE(idle[99]->closedByPeer());

    // With a time-out of a second: one silent connection and one that sends its head a byte
    // at a time are both closed.
    HttpLimits brief;
    brief.idleSeconds = 1;
    MetricsExporter quick(brief);
    ASSERT_TRUE(quick.listen(QStringLiteral("127.0.0.1:0")));
    TcpConnection silent(quick.port());
    TcpConnection trickle(quick.port());
    const QByteArray head = get + "X-Slow: " + QByteArray(100, 'a');
    bool trickleClosed = false;
    for (int i = 0; i < head.size() && !trickleClosed; ++i) {
        trickle.send(head.mid(i, 1), 1000);
        trickleClosed = trickle.closedByPeer(200);
    }
    EXPECT_TRUE(trickleClosed);
    EXPECT_TRUE(silent.closedByPeer(10000));
}

TEST(Metrics, ListenAddressesAreTakenOnlyWhenWrittenInFull)
{
    const struct
    {
        const char *text;
        const char *host; // null: refused
        bool loopback;
    } addresses[] = {
        {"127.0.0.1:9464", "127.0.0.1", true},
        {" 127.0.0.1:0 ", "127.0.0.1", true},
        {"localhost:9464", "127.0.0.1", true},
        {"[::1]:9464", "::1", true},
        {"0.0.0.0:9100", "0.0.0.0", false},
        {"[::]:9100", "::", false},
        {"192.168.1.20:9100", "192.168.1.20", false},
        {"0:9100", nullptr, false},
        {"127.1:9100", nullptr, false},
        {"127.0.1:9100", nullptr, false},
        {"0x7f.0.0.1:9100", nullptr, false},
        {"010.0.0.1:9100", nullptr, false},
        {"127.0.0.256:9100", nullptr, false},
        {"1.2.3.4.5:9100", nullptr, false},
        {"127.0.0.1", nullptr, false},
        {"127.0.0.1:", nullptr, false},
        {"127.0.0.1:+80", nullptr, false},
        {"[::1]", nullptr, false},
        {"[::1]9100", nullptr, false},
        {"[127.0.0.1]:9100", nullptr, false},
        {"[fe80::1%eth0]:9100", nullptr, false},
        {"::1:9100", nullptr, false},
        {"example.org:9100", nullptr, false},
        {":9100", nullptr, false},
    };
    for (const auto &a : addresses) {
        QString why;
        const std::optional<ListenAddress> parsed = ParseListenAddress(QLatin1String(a.text), &why);
        EXPECT_EQ(parsed.has_value(), a.host != nullptr) << a.text;
        if (parsed && a.host) {
            EXPECT_EQ(parsed->host, QHostAddress(QLatin1String(a.host))) << a.text;
            EXPECT_EQ(parsed->loopback(), a.loopback) << a.text;
        } else if (!parsed) {
            EXPECT_TRUE(why.contains(QLatin1String(a.text))) << why.toStdString();
        }
    }

    // What is refused, and a server that other machines can reach, are told in the log.
    TestHome home;
    const QString app = QStringLiteral("clarow");
    EXPECT_EQ(StartMetrics({app, QStringLiteral("--metrics"), QStringLiteral("127.1:9100")}), nullptr);
    const auto log = [&] { return home.readFile(LogFileName(Now())); };
    EXPECT_TRUE(log().contains(QLatin1String("\"127.1:9100\" is not an address to listen on"))) << log().toStdString();
    const std::unique_ptr<MetricsExporter> local = StartMetrics({app, QStringLiteral("--metrics=127.0.0.1:0")});
    ASSERT_NE(local, nullptr);
    EXPECT_FALSE(log().contains(QLatin1String("beyond the loopback"))) << log().toStdString();
    const std::unique_ptr<MetricsExporter> open = StartMetrics({app, QStringLiteral("--metrics=0.0.0.0:0")});
    ASSERT_NE(open, nullptr);
    EXPECT_TRUE(log().contains(QLatin1String("served beyond the loopback interface on 0.0.0.0:0"))) << log().toStdString();
}
