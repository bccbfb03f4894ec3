// Push notifications as an operator meets them: the alarm and the return to normal of a sensor
// reach a real HTTP receiver once each, in every format, also with alarm mail off; a receiver
// that is down for a while, even across a restart of the program, gets each event exactly
// once when it is back, and the diagnostic log tells of the outage without the token.
#include "DbSnapshot.h"
#include "MonitorRun.h"
#include "PushReceivers.h"
#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "TestHome.h"

#include "core/DiagnosticLog.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/AlarmMail.h"
#include "monitor/Notify.h"
#include "monitor/ui/Collection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kHot = QStringLiteral("28FF4A1C62160344");
const QString kCool = QStringLiteral("28FF0B7D63160321");

int outboxRows(const QString &db)
{
    const auto rows = ReadTogether(db, {QStringLiteral("SELECT COUNT(*) FROM Outbox")});
    return rows.isEmpty() || rows.first().isEmpty() ? -1 : rows.first().first().value(0).toInt();
}

QJsonObject bodyOf(const QJsonObject &request)
{
    return QJsonDocument::fromJson(request.value(QStringLiteral("body")).toString().toUtf8()).object();
}

} // namespace

TEST(PushNotify, ReceiverDownAcrossARestartGetsAlarmAndReturnExactlyOnce)
{
    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
    WebhookSink sink;
    ASSERT_TRUE(sink.running());
    sink.failWith(500);

    // The hot sensor cools down after its sixth reading.
    SimProcess sim(QStringLiteral("sensor %1 temp=55\nsensor %2 temp=38\nafter 6 set %1 temp=36.5\n").arg(kHot, kCool));
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(1);
    // Alarm mail is off: the notifications go out all the same.
    StoreSettings({{QStringLiteral("MinsConsecutive"), QStringLiteral("1")},
                   {QStringLiteral("LocationName"), QStringLiteral("Cold store")},
                   {QStringLiteral("LogErrors"), QStringLiteral("True")}});
    SaveNotifySettings({sink.url(), QStringLiteral("json"), QStringLiteral("s3cret-token")});

    {
        MonitorRun run;
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.runScans(3, 60000)) << run.statusText();
        // The alarm is kept, once, while the receiver answers 500.
        EXPECT_EQ(outboxRows(home.databasePath()), 1);
        EXPECT_TRUE(sink.requests().isEmpty());
    }

    sink.failWith(0);
    MonitorRun again;
    ASSERT_TRUE(again.start());
    ASSERT_TRUE(RunUntil(
        [&] {
            if (!again.monitor()->cycle().scanning())
                program().nextScan = Now();
            return sink.requests().size() >= 2;
        },
        90000))
        << again.statusText();
    ASSERT_TRUE(again.runScans(2, 60000));

    const QList<QJsonObject> requests = sink.requests();
    ASSERT_EQ(requests.size(), 2);
    const QJsonObject alarm = bodyOf(requests.at(0));
    const QJsonObject back = bodyOf(requests.at(1));
    EXPECT_EQ(alarm.value(QStringLiteral("event")).toString(), QStringLiteral("alarm"));
    EXPECT_EQ(back.value(QStringLiteral("event")).toString(), QStringLiteral("return"));
    for (const QJsonObject &e : {alarm, back}) {
        EXPECT_EQ(e.value(QStringLiteral("sensor")).toString(), kHot);
        EXPECT_EQ(e.value(QStringLiteral("site")).toString(), QStringLiteral("Cold store"));
        EXPECT_EQ(e.value(QStringLiteral("type")).toString(), QStringLiteral("28 44"));
        EXPECT_EQ(e.value(QStringLiteral("unit")).toString(), QStringLiteral("°C"));
        EXPECT_TRUE(e.value(QStringLiteral("channel2")).isNull());
        EXPECT_TRUE(e.value(QStringLiteral("water")).isNull());
        EXPECT_EQ(e.value(QStringLiteral("limits")).toObject().value(QStringLiteral("temperature")).toObject(),
                  QJsonObject({{QStringLiteral("low"), 32}, {QStringLiteral("high"), 50}}));
        // ISO 8601 with the offset of the local time.
        EXPECT_TRUE(QDateTime::fromString(e.value(QStringLiteral("time")).toString(), Qt::ISODate).isValid());
        EXPECT_TRUE(e.value(QStringLiteral("time")).toString().contains(QRegularExpression(QStringLiteral("(Z|[+-]\\d\\d:\\d\\d)$"))));
    }
    EXPECT_EQ(alarm.value(QStringLiteral("temperature")).toDouble(), 55.0);
    EXPECT_TRUE(alarm.value(QStringLiteral("alarm")).toString().contains(QStringLiteral("High temperature limit:    50")));
    EXPECT_EQ(back.value(QStringLiteral("temperature")).toDouble(), 36.5);
    const QJsonObject headers = requests.at(0).value(QStringLiteral("headers")).toObject();
    EXPECT_EQ(headers.value(QStringLiteral("Authorization")).toString(), QStringLiteral("Bearer s3cret-token"));
    EXPECT_EQ(headers.value(QStringLiteral("Content-Type")).toString(), QStringLiteral("application/json"));
    EXPECT_EQ(outboxRows(home.databasePath()), 0);

    // The outage is logged when it starts and when it ends; the token never.
    const QString log = home.readFile(LogFileName(Now()));
    EXPECT_EQ(log.count(QStringLiteral("Push notification to 127.0.0.1 failed: The receiver answered HTTP 500")), 1) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Push notifications to 127.0.0.1 work again")), 1);
    EXPECT_FALSE(log.contains(QStringLiteral("s3cret")));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(PushNotify, EachFormatSendsWhatItsReceiverReads)
{
    TestHome home;
    WebhookSink sink;
    ASSERT_TRUE(sink.running());
    program().settings.LocationName = QStringLiteral("Plant 2");
    program().settings.CorF = QStringLiteral("C");

    MailRow row;
    row.sensorId = QStringLiteral("26B14F0200000041 1E");
    row.location = QStringLiteral("Server room ü");
    row.connected = true;
    row.inAlarm = true;
    row.cTmp = 21.5f;
    row.aTempLo = 15;
    row.aTempHi = 30;
    row.cCh2 = 91;
    row.aCh2Lo = 20;
    row.aCh2Hi = 80;
    row.wStatus = 2;
    const QDateTime at = Now();

    struct Case
    {
        const char *format;
        NotifyEvent event;
        std::function<void(const QJsonObject &headers, const QString &body)> check;
    };
    const Case cases[] = {
        {"json", NotifyEvent::Alarm,
         [](const QJsonObject &, const QString &body) {
             const QJsonObject e = QJsonDocument::fromJson(body.toUtf8()).object();
             EXPECT_EQ(e.value(QStringLiteral("channel2")).toObject(),
                       QJsonObject({{QStringLiteral("name"), QStringLiteral("Humidity")},
                                    {QStringLiteral("value"), 91},
                                    {QStringLiteral("unit"), QStringLiteral("%")}}));
             EXPECT_EQ(e.value(QStringLiteral("water")).toString(), QStringLiteral("Wet"));
             EXPECT_EQ(e.value(QStringLiteral("location")).toString(), QStringLiteral("Server room ü"));
             EXPECT_TRUE(e.value(QStringLiteral("alarm")).toString().contains(QStringLiteral("High humidity limit:       80")));
         }},
        {"ntfy", NotifyEvent::Alarm,
         [](const QJsonObject &h, const QString &body) {
             EXPECT_EQ(h.value(QStringLiteral("Priority")).toString(), QStringLiteral("high"));
             EXPECT_EQ(h.value(QStringLiteral("Tags")).toString(), QStringLiteral("warning"));
             EXPECT_TRUE(h.value(QStringLiteral("Title")).toString().startsWith(QStringLiteral("=?UTF-8?B?")));
             EXPECT_TRUE(body.startsWith(QStringLiteral("Sensor ID:                 26B14F0200000041 1E\n")));
             EXPECT_TRUE(body.contains(QStringLiteral("Water sensor status:       Wet - water detected.")));
         }},
        {"ntfy", NotifyEvent::Return,
         [](const QJsonObject &h, const QString &body) {
             EXPECT_EQ(h.value(QStringLiteral("Priority")).toString(), QStringLiteral("default"));
             EXPECT_EQ(h.value(QStringLiteral("Tags")).toString(), QStringLiteral("white_check_mark"));
             EXPECT_TRUE(body.contains(QStringLiteral("Current temperature:       21.5")));
         }},
        {"slack", NotifyEvent::Return,
         [](const QJsonObject &, const QString &body) {
             const QJsonObject o = QJsonDocument::fromJson(body.toUtf8()).object();
             EXPECT_EQ(o.keys(), QStringList{QStringLiteral("text")});
             EXPECT_TRUE(o.value(QStringLiteral("text")).toString().startsWith(
                 QStringLiteral("Back to normal: Server room ü (Plant 2)\nSensor ID:")));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        const NotifySettings s{sink.url(), QLatin1String(c.format), {}};
        const qsizetype before = sink.requests().size();
        const WebhookResult r = PostWebhook(BuildWebhookRequest(s, EventJson(c.event, row, {}, program().settings, at)));
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        ASSERT_EQ(sink.requests().size(), before + 1);
        const QJsonObject request = sink.requests().last();
        EXPECT_FALSE(request.value(QStringLiteral("headers")).toObject().contains(QStringLiteral("Authorization")));
        c.check(request.value(QStringLiteral("headers")).toObject(), request.value(QStringLiteral("body")).toString());
    }

    // A receiver that refuses, or is not there, is a failure with its reason.
    sink.failWith(503);
    WebhookResult refused = SendTestNotification({sink.url(), QStringLiteral("json"), {}});
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.status, 503);
    sink.failWith(0);
    EXPECT_TRUE(SendTestNotification({sink.url(), QStringLiteral("ntfy"), QStringLiteral("tok")}).ok);
    EXPECT_EQ(sink.requests().last().value(QStringLiteral("headers")).toObject().value(QStringLiteral("Title")).toString(),
              QStringLiteral("Test notification from Clarow"));
    EXPECT_FALSE(NotifySettingsProblem({QStringLiteral("ftp://host/x"), QStringLiteral("json"), {}}).isEmpty());
    EXPECT_FALSE(NotifySettingsProblem({sink.url(), QStringLiteral("xml"), {}}).isEmpty());
    EXPECT_TRUE(NotifySettingsProblem({{}, QStringLiteral("json"), {}}).isEmpty());
}
