// The web page on a real database file, served over HTTP on 127.0.0.1: the grid, the data for
// its script, a sensor's page with its chart, the CSV export against the desktop's own export,
// and the password.
#include "core/Database.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/Metrics.h"
#include "NetworkServers.h"
#include "TestHome.h"
#include "views/LogExport.h"
#include "views/WebPage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QUrl>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kHostile = QStringLiteral("<script>alert(1)</script> & \"Rack\"");
const QString kAlarmId = QStringLiteral("28A1B2C3D4E5F60A");
const QString kHumidityId = QStringLiteral("26A1B2C3D4E5F60B 19");

// Two sensors heard just now, the first in alarm with a hostile location, and two days of
// history every ten minutes for the humidity sensor.
void FillBus()
{
    Settings &s = program().settings;
    s.ColAlarm = 8421631;
    s.ColOK = 8454016;
    s.CorF = QStringLiteral("C");
    s.DateFormat = QStringLiteral("Short Date");
    s.TimeFormat = QStringLiteral("Short Time");
    s.LocationName = QStringLiteral("Cold <store>");
    const QDateTime now = Now();
    const QString ins = QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, cCh2, aTempLo, aTempHi, aCh2Lo, "
                                       "aCh2Hi, LastR, InAlarm, AlType, Connected) VALUES (?,?,?,?,?,?,?,?,?,?,?,?)");
    Exec(ins, {kHumidityId, QStringLiteral("Cellar, north"), 4.5, 61, 2, 8, 20, 80, ToSerial(now), 0, 0, 1});
    Exec(ins, {kAlarmId, kHostile, 31.5, QVariant(), 10, 30, 0, 0, ToSerial(now), 1, 2, 1});
    for (int i = 0; i < 2 * 144; ++i)
        Exec(QStringLiteral("INSERT INTO LogTbl (SensorID, lTime, lTemp, lCh2) VALUES (?,?,?,?)"),
             {kHumidityId, ToSerial(now.addSecs(-300 - 600LL * i)), 3.0 + (i % 7), 50 + (i % 11)});
    CountScan(now);
}

QByteArray Get(quint16 port, const QByteArray &path, const QByteArray &head = {})
{
    return HttpRequestRunningEvents(port, path, "GET", head).body;
}

QByteArray SensorPath(const QString &id) { return "/sensor/" + QUrl::toPercentEncoding(id); }

} // namespace

TEST(WebPage, EscapesTextAndChecksPasswordHashes)
{
    const struct
    {
        const char *text;
        const char *html;
    } escapes[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a & b \"c\" 'd'", "a &amp; b &quot;c&quot; &#39;d&#39;"},
        {"Kühlraum 3", "Kühlraum 3"},
    };
    for (const auto &e : escapes)
        EXPECT_EQ(HtmlEscaped(QString::fromUtf8(e.text)), QString::fromUtf8(e.html));
    EXPECT_EQ(CssColour(8421631), QStringLiteral("#ff8080"));

    const QString stored = HashWebPassword(QStringLiteral("s3cret pässword"), 1000);
    EXPECT_TRUE(stored.startsWith(QLatin1String("pbkdf2-sha256$1000$"))) << stored.toStdString();
    EXPECT_NE(stored, HashWebPassword(QStringLiteral("s3cret pässword"), 1000)); // a salt of its own
    const auto basic = [](const char *userAndPassword) { return "Basic " + QByteArray(userAndPassword).toBase64(); };
    const struct
    {
        QByteArray authorization;
        QString stored;
        bool accepted;
    } checks[] = {
        {basic("ops:s3cret pässword"), stored, true},
        {"basic " + QByteArray("ops:s3cret pässword").toBase64(), stored, true},
        {basic("ops:s3cret passwort"), stored, false},
        {basic("root:s3cret pässword"), stored, false},
        {basic("ops"), stored, false},
        {"Bearer abc", stored, false},
        {basic("ops:"), QString(), false},
        {basic("ops:x"), QStringLiteral("pbkdf2-sha256$0$AAAA$AAAA"), false},
        {basic("ops:x"), QStringLiteral("md5$1$x$y"), false},
        {basic("ops:s3cret pässword"), stored.left(stored.size() - 4), false},
    };
    for (const auto &c : checks)
        EXPECT_EQ(BasicAuthAccepts(c.authorization, QStringLiteral("ops"), c.stored), c.accepted)
            << c.authorization.constData() << ' ' << c.stored.toStdString();
}

TEST(WebPage, ServesTheGridTheSensorPageAndTheDesktopsExport)
{
    TestHome home;
    OpenDatabase();
    FillBus();
    WebPage web;
    ASSERT_TRUE(web.listen(QStringLiteral("127.0.0.1:0"))) << web.errorText().toStdString();
    const quint16 port = web.port();

    // The grid: the alarm row first, in the alarm class and with its state in words; every
    // text from the database and the settings escaped; nothing from elsewhere allowed.
    const HttpReply grid = HttpRequestRunningEvents(port, "/");
    ASSERT_EQ(grid.status, 200);
    EXPECT_TRUE(grid.header("Content-Security-Policy").startsWith("default-src 'none'; script-src 'self'"));
    EXPECT_EQ(grid.header("X-Content-Type-Options"), "nosniff");
    const QString page = QString::fromUtf8(grid.body);
    EXPECT_FALSE(page.contains(QLatin1String("<script>alert"))) << grid.body.constData();
    EXPECT_FALSE(page.contains(QLatin1String("<store>")));
    EXPECT_TRUE(page.contains(HtmlEscaped(kHostile)));
    EXPECT_TRUE(page.contains(QLatin1String("<th scope=\"col\">Humidity (%)</th>")));
    const qsizetype alarmRow = page.indexOf(QLatin1String("<tr class=\"alarm\">"));
    EXPECT_GE(alarmRow, 0);
    EXPECT_LT(alarmRow, page.indexOf(QLatin1String("<tr class=\"ok\">")));
    EXPECT_LT(page.indexOf(QLatin1String(">Alarm</td>")), page.indexOf(QLatin1String(">Normal</td>")));
    EXPECT_TRUE(Get(port, "/app.css").contains("tr.alarm>*{background:#ff8080}"));
    EXPECT_TRUE(Get(port, "/app.js").contains("/api/sensors"));

    const QJsonObject api = QJsonDocument::fromJson(Get(port, "/api/sensors")).object();
    const QJsonArray sensors = api.value(QStringLiteral("sensors")).toArray();
    ASSERT_EQ(sensors.size(), 2) << api.size();
    EXPECT_EQ(sensors[0].toObject().value(QStringLiteral("location")).toString(), kHostile);
    EXPECT_TRUE(sensors[0].toObject().value(QStringLiteral("inAlarm")).toBool());
    EXPECT_EQ(sensors[1].toObject().value(QStringLiteral("cells")).toArray()[3].toString(), QStringLiteral("61"));

    // The sensor page: fields, limits and a chart of the range with both limit lines.
    const QByteArray sensorPage = Get(port, SensorPath(kHumidityId) + "?range=7d");
    EXPECT_TRUE(sensorPage.contains("<polyline class=\"series\" data-count=\"288\"")) << sensorPage.left(3000).constData();
    EXPECT_TRUE(sensorPage.contains("class=\"limit low\" data-value=\"2\""));
    EXPECT_TRUE(sensorPage.contains("class=\"limit high\" data-value=\"80\""));
    EXPECT_TRUE(sensorPage.contains("<a href=\"/sensor/26A1B2C3D4E5F60B%2019?range=7d\" aria-current=\"page\">"));
    EXPECT_TRUE(Get(port, SensorPath(kHumidityId)).contains("data-count=\"144\"")); // the last 24 hours
    EXPECT_TRUE(Get(port, SensorPath(kAlarmId)).contains(HtmlEscaped(kHostile).toUtf8()));

    // The export: the very bytes the desktop writes for the same days.
    const QDate today = Now().date();
    const HttpReply csv = HttpRequestRunningEvents(
        port, SensorPath(kHumidityId) + "/export.csv?from=" + today.addDays(-1).toString(Qt::ISODate).toLatin1()
                  + "&to=" + today.toString(Qt::ISODate).toLatin1());
    ASSERT_EQ(csv.status, 200) << csv.body.constData();
    LogData desktop;
    const LoadResult loaded = LoadLogData(desktop, kHumidityId, QDateTime(today.addDays(-1), QTime(0, 0)),
                                          QDateTime(today, QTime(23, 59, 59)));
    ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded);
    const Settings &s = program().settings;
    const ExportHeader h{s.LocationName, kHumidityId, s.CorF, s.DateFormat, s.TimeFormat, today, loaded.kind};
    ASSERT_TRUE(WriteExport(home.file(QStringLiteral("desktop.csv")), desktop, h, QLatin1Char(',')));
    QFile file(home.file(QStringLiteral("desktop.csv")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.body, file.readAll());
    EXPECT_TRUE(csv.header("Content-Disposition").startsWith("attachment; filename=\"5F60B 19_"));

    // What is refused, and how.
    const struct
    {
        QByteArray method;
        QByteArray path;
        int status;
    } refused[] = {
        {"GET", "/sensor/28FFFFFFFFFFFF00", 404},
        {"GET", SensorPath(kAlarmId) + "/export.csv?from=2026-13-01&to=2026-01-02", 400},
        {"GET", SensorPath(kAlarmId) + "?range=1y", 400},
        {"GET", "/sensor/", 404},
        {"GET", "/metrics", 404},
        {"POST", "/", 405},
    };
    for (const auto &r : refused)
        EXPECT_EQ(HttpRequestRunningEvents(port, r.path, r.method).status, r.status) << r.path.constData();
    CloseConnection();
}

TEST(WebPage, AsksForThePasswordAndSharesTheMetricsAddress)
{
    TestHome home;
    OpenDatabase();
    FillBus();
    QString error;
    ASSERT_EQ(StoreWebPassword(QStringLiteral("s3cret"), &error), QStringLiteral("clarow"));
    EXPECT_FALSE(StoreWebPassword(QString(), &error));
    const QString address = QStringLiteral("127.0.0.1:%1").arg(FreeTcpPort());
    const std::unique_ptr<HttpServices> served = StartHttpServices(
        {QStringLiteral("clarow"), QStringLiteral("--metrics"), address, QStringLiteral("--web=") + address});
    ASSERT_TRUE(served->shared && served->web && served->metrics);
    const quint16 port = served->shared->port();

    const QByteArray good = "Authorization: Basic " + QByteArray("clarow:s3cret").toBase64() + "\r\n";
    const QByteArray bad = "Authorization: Basic " + QByteArray("clarow:guess").toBase64() + "\r\n";
    for (const QByteArray path : {"/", "/api/sensors", "/app.css", "/app.js", "/sensor/28A1B2C3D4E5F60A"}) {
        const HttpReply none = HttpRequestRunningEvents(port, path);
        EXPECT_EQ(none.status, 401) << path.constData();
        EXPECT_TRUE(none.header("WWW-Authenticate").startsWith("Basic realm=")) << path.constData();
        EXPECT_EQ(HttpRequestRunningEvents(port, path, "GET", bad).status, 401) << path.constData();
        EXPECT_EQ(HttpRequestRunningEvents(port, path, "GET", good).status, 200) << path.constData();
    }
    // The scraper's page on the same address keeps working as it did.
    EXPECT_TRUE(Get(port, "/metrics").contains("clarow_sensor_in_alarm"));
    CloseConnection();
}
