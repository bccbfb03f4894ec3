// A month of monitoring in virtual time: fifty sensors scanned once a minute with the
// history every ten minutes, two sensors a day going out of their limits and back, the alarm
// mail going to a real SMTP server, the real database file. At the end the history holds
// exactly one row per sensor per slot, the sensor table agrees with the last reading, every
// alarm and every return was mailed once, and the memory did not grow with the scans.
//
// CLAROW_SOAK_DAYS sets the length (30 when unset).
#include "MonitorRun.h"
#include "ScriptedPrompter.h"
#include "ScriptedSerialPort.h"
#include "SmtpServer.h"
#include "TestHome.h"

#include "core/Database.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/VirtualClock.h"
#include "monitor/ScanCycle.h"

#include <QFile>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace clarow;
using namespace clarow::test;

namespace {

constexpr int kSensors = 50;
constexpr double kNormal = 40.0;
constexpr double kHot = 55.0; // above the default high limit of 50

QString SensorId(int i)
{
    return QStringLiteral("28%1").arg(i, 14, 16, QLatin1Char('0')).toUpper();
}

// The sensor out of its limits at a moment of day d, or -1: sensor d % 50 from 02:00 to
// 02:30, and sensor (7d + 3) % 50 from 14:00 to 14:10.
int HotSensor(int day, const QTime &t)
{
    if (t >= QTime(2, 0) && t < QTime(2, 30))
        return day % kSensors;
    if (t >= QTime(14, 0) && t < QTime(14, 10))
        return (7 * day + 3) % kSensors;
    return -1;
}

qint64 ResidentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryMeasurable = false; // the sanitizer keeps freed memory in quarantine
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryMeasurable = false;
#else
constexpr bool kMemoryMeasurable = true;
#endif
#else
constexpr bool kMemoryMeasurable = true;
#endif

} // namespace

TEST(Soak, AMonthOfScansOfFiftySensorsWithAlarmsComingAndGoing)
{
    const int days = qEnvironmentVariableIsSet("CLAROW_SOAK_DAYS") ? qEnvironmentVariableIntValue("CLAROW_SOAK_DAYS") : 30;
    TestHome home;
    ScriptedPrompter boxes;
    SmtpServer smtp;
    ASSERT_TRUE(smtp.running());
    const QDateTime start(QDate(2026, 3, 2), QTime(0, 0, 30));
    VirtualClock vc(start);
    ScopedClock useClock(vc);

    StoreSettings(AlarmMailSettings(smtp.port()));
    LoadOptions();
    Settings &s = program().settings;
    s.LoggingInterval = 10;
    s.CorF = QStringLiteral("C");
    s.PortNumber = 1;
    s.LogErrors = true;
    SaveOptions();
    OpenDatabase();

    // The bus answers with what it reads at the moment of the command.
    ScriptedSerialPort port;
    port.setResponder([&](int, const QString &written) -> Reply {
        if (written != QLatin1String("D"))
            return {};
        const QDateTime now = Now();
        const int hot = HotSensor(int(start.daysTo(now)), now.time());
        QString text;
        for (int i = 0; i < kSensors; ++i) {
            const double c = i == hot ? kHot : kNormal;
            text += QStringLiteral("%1,%2,%3\r\n").arg(SensorId(i)).arg(c, 0, 'f', 1).arg(c * 9 / 5 + 32, 0, 'f', 1);
        }
        return {{700, text + QStringLiteral("EOD\r\n")}};
    });
    program().port = &port;
    ScanCycle cycle;
    cycle.start();

    const QDateTime end = start.addDays(days).addSecs(-1);
    qint64 memoryAfterDayOne = 0;
    while (Now() < end) {
        cycle.Timer1_Timer();
        if (memoryAfterDayOne == 0 && Now() >= start.addDays(1))
            memoryAfterDayOne = ResidentKb();
        // Straight to the second before the next scan (a whole number of minutes before or
        // after the next history time), then in ticks of the timer.
        const qint64 toNext = NowWholeSeconds().secsTo(program().nextScan);
        const qint64 wait = toNext >= 0 ? toNext % 60 : (60 - (-toNext) % 60) % 60;
        vc.advanceMs(wait > 2 ? (wait - 1) * 1000 : 200);
    }
    const qint64 memoryAtEnd = ResidentKb();

    // One history row per sensor per ten-minute slot, each with the value read.
    const int slots = days * 24 * 6;
    QSqlQuery perSensor = Exec(QStringLiteral("SELECT SensorID, count(*), count(DISTINCT CAST(lTime * 144 AS INTEGER)) "
                                              "FROM LogTbl GROUP BY SensorID"));
    int sensorsLogged = 0;
    while (perSensor.next()) {
        ++sensorsLogged;
        EXPECT_EQ(perSensor.value(1).toInt(), slots) << perSensor.value(0).toString().toStdString();
        EXPECT_EQ(perSensor.value(2).toInt(), slots) << "two rows in one slot";
    }
    EXPECT_EQ(sensorsLogged, kSensors);
    QSqlQuery wrong = Exec(QStringLiteral("SELECT count(*) FROM LogTbl WHERE lTemp NOT IN (40, 55)"));
    ASSERT_TRUE(wrong.next());
    EXPECT_EQ(wrong.value(0).toInt(), 0);

    // The sensor table ends as the last reading left it: all back to normal, none mailed.
    QSqlQuery sensors = Exec(QStringLiteral("SELECT count(*), sum(cTmp = 40), sum(InAlarm <> 0), sum(MailSent <> 0) FROM Sensors"));
    ASSERT_TRUE(sensors.next());
    EXPECT_EQ(sensors.value(0).toInt(), kSensors);
    EXPECT_EQ(sensors.value(1).toInt(), kSensors);
    EXPECT_EQ(sensors.value(2).toInt(), 0);
    EXPECT_EQ(sensors.value(3).toInt(), 0);

    // Two alarms a day, each mailed once when it began and once when it ended.
    int alarms = 0, returns = 0;
    for (const ReceivedMail &m : smtp.mails()) {
        if (m.subject == QLatin1String("Sensor alarm"))
            ++alarms;
        else if (m.subject == QLatin1String("Sensors back to normal"))
            ++returns;
    }
    EXPECT_EQ(alarms, 2 * days);
    EXPECT_EQ(returns, 2 * days);
    EXPECT_TRUE(boxes.boxes.isEmpty());

    RecordProperty("scans", cycle.scanCount());
    RecordProperty("resident_kb_after_day_one", QString::number(memoryAfterDayOne).toStdString());
    RecordProperty("resident_kb_at_end", QString::number(memoryAtEnd).toStdString());
    std::printf("soak: %d days, %d scans, resident %lld kB after day one, %lld kB at the end\n", days,
                cycle.scanCount(), memoryAfterDayOne, memoryAtEnd);
    if (kMemoryMeasurable && days > 2)
        EXPECT_LT(memoryAtEnd - memoryAfterDayOne, 16 * 1024) << "memory grew with the scans";
}
