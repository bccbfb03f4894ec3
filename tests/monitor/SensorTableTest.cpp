#include "monitor/SensorTable.h"

#include "core/Database.h"
#include "core/Errors.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "link/VirtualClock.h"
#include "monitor/Decoder.h"
#include "support/TestHome.h"

#include <QSqlQuery>
#include <QVariant>

#include <gtest/gtest.h>

using namespace clarow;

namespace {

const QString kTemp = QStringLiteral("28A1B2C3D4E5F60A");
const QString kHumid = QStringLiteral("26A1B2C3D4E5F60B 19");
const QString kWaterHumid = QStringLiteral("26A1B2C3D4E5F60B 1E");
const QString kWater = QStringLiteral("26A1B2C3D4E5F60D 1D");
const QString kCurrent = QStringLiteral("26A1B2C3D4E5F60E 1C");

class SensorTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings &s = program().settings;
        s.DefaultSensorLoc = QStringLiteral("Sensor");
        s.DefLoT = 32;
        s.DefHiT = 50;
        s.DefLoCh2 = 20;
        s.DefHiCh2 = 80;
        s.MinsConsecutive = 1;
        s.SendMailAlarm = false;
        s.SendMailRtn = false;
        OpenDatabase();
        ASSERT_TRUE(DatabaseIsOpen());
    }

    // One scan: every reading is stamped with the time of this complete reading.
    void Read(const QString &id, float temperature, float ch2 = 0, quint8 water = 0)
    {
        UpdateSensor(id, temperature, ch2, water, NowWholeSeconds());
    }

    bool Evaluate()
    {
        bool pending = false;
        EvaluateSensors(pending);
        return pending;
    }

    // Next scan a minute later.
    void NextMinute() { m_clock.advanceMs(60'000); }

    QVariant Column(const QString &id, const QString &column)
    {
        QSqlQuery q = Exec(QStringLiteral("SELECT %1 FROM Sensors WHERE SensorID=?").arg(column), {id});
        return q.next() ? q.value(0) : QVariant();
    }

    int AlType(const QString &id) { return Column(id, QStringLiteral("AlType")).toInt(); }

    void Set(const QString &id, const QString &column, const QVariant &value)
    {
        Exec(QStringLiteral("UPDATE Sensors SET %1=? WHERE SensorID=?").arg(column), {value, id});
    }

    test::TestHome m_home;
    VirtualClock m_clock;
    ScopedClock m_scoped{m_clock};
};

} // namespace

// --- UpdateSensor -----------------------------------------------------------------------

TEST_F(SensorTableTest, NewTemperatureSensor_GetsDefaults)
{
    Read(kTemp, 21.5f);
    EXPECT_EQ(Column(kTemp, QStringLiteral("Location")).toString(), QStringLiteral("Sensor"));
    EXPECT_EQ(Column(kTemp, QStringLiteral("aTempLo")).toDouble(), 32.0);
    EXPECT_EQ(Column(kTemp, QStringLiteral("aTempHi")).toDouble(), 50.0);
    EXPECT_TRUE(Column(kTemp, QStringLiteral("aCh2Lo")).isNull());
    EXPECT_TRUE(Column(kTemp, QStringLiteral("aCh2Hi")).isNull());
    EXPECT_TRUE(Column(kTemp, QStringLiteral("Channel2Name")).isNull());
    EXPECT_TRUE(Column(kTemp, QStringLiteral("aWtDr")).isNull());
    EXPECT_EQ(Column(kTemp, QStringLiteral("Connected")).toInt(), 1);
    EXPECT_DOUBLE_EQ(Column(kTemp, QStringLiteral("LastR")).toDouble(), ToSerial(NowWholeSeconds()));

    // Within the limits: no alarm.
    Set(kTemp, QStringLiteral("cTmp"), 40.0);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 0);
    EXPECT_EQ(Column(kTemp, QStringLiteral("InAlarm")).toInt(), 0);
}

TEST_F(SensorTableTest, NewSensor_EmptyDefaultLocationBecomesUnknown)
{
    program().settings.DefaultSensorLoc.clear();
    Read(kTemp, 40.0f);
    EXPECT_EQ(Column(kTemp, QStringLiteral("Location")).toString(), QStringLiteral("Unknown"));
}

TEST_F(SensorTableTest, NewMultiSensors_GetSecondChannelDefaultsByType)
{
    Read(kHumid, 40.0f, 45.0f);
    Read(kWaterHumid, 40.0f, 51.0f, 2);
    Read(kWater, 40.0f, 0, 2);
    EXPECT_EQ(Column(kHumid, QStringLiteral("Channel2Name")).toString(), QStringLiteral("Humidity"));
    EXPECT_EQ(Column(kHumid, QStringLiteral("aCh2Lo")).toDouble(), 20.0);
    EXPECT_EQ(Column(kHumid, QStringLiteral("aCh2Hi")).toDouble(), 80.0);
    EXPECT_EQ(Column(kHumid, QStringLiteral("cCh2")).toDouble(), 45.0);
    EXPECT_TRUE(Column(kHumid, QStringLiteral("aWtDr")).isNull());

    EXPECT_EQ(Column(kWaterHumid, QStringLiteral("Channel2Name")).toString(), QStringLiteral("Humidity"));
    EXPECT_EQ(Column(kWaterHumid, QStringLiteral("aWtDr")).toInt(), 0);
    EXPECT_FALSE(Column(kWaterHumid, QStringLiteral("aWtDr")).isNull());
    // The first reading's water status is not kept.
    EXPECT_TRUE(Column(kWaterHumid, QStringLiteral("wStatus")).isNull());

    // A water-only sensor has no second channel.
    EXPECT_TRUE(Column(kWater, QStringLiteral("aCh2Lo")).isNull());
    EXPECT_TRUE(Column(kWater, QStringLiteral("cCh2")).isNull());
    EXPECT_TRUE(Column(kWater, QStringLiteral("Channel2Name")).isNull());
    EXPECT_EQ(Column(kWater, QStringLiteral("aWtDr")).toInt(), 0);
}

TEST_F(SensorTableTest, KnownSensor_UpdatesReadingsButKeepsLocationAndLimits)
{
    Read(kWaterHumid, 40.0f, 51.0f, 0);
    Set(kWaterHumid, QStringLiteral("Location"), QStringLiteral("Cellar"));
    Set(kWaterHumid, QStringLiteral("aTempHi"), 45.0);
    Set(kWaterHumid, QStringLiteral("Connected"), 0);
    program().settings.DefHiT = 99;
    NextMinute();
    Read(kWaterHumid, 41.5f, 60.0f, 1);
    EXPECT_EQ(Column(kWaterHumid, QStringLiteral("Location")).toString(), QStringLiteral("Cellar"));
    EXPECT_EQ(Column(kWaterHumid, QStringLiteral("aTempHi")).toDouble(), 45.0);
    EXPECT_EQ(Column(kWaterHumid, QStringLiteral("cTmp")).toDouble(), 41.5);
    EXPECT_EQ(Column(kWaterHumid, QStringLiteral("cCh2")).toDouble(), 60.0);
    EXPECT_EQ(Column(kWaterHumid, QStringLiteral("wStatus")).toInt(), 1);
    EXPECT_EQ(Column(kWaterHumid, QStringLiteral("Connected")).toInt(), 1);
    EXPECT_DOUBLE_EQ(Column(kWaterHumid, QStringLiteral("LastR")).toDouble(), ToSerial(NowWholeSeconds()));
}

TEST_F(SensorTableTest, KnownCurrentSensorWithEmptyName_GetsCurrent)
{
    Read(kCurrent, 40.0f, 5.7f);
    Set(kCurrent, QStringLiteral("Channel2Name"), QString());
    NextMinute();
    Read(kCurrent, 40.0f, 5.9f);
    EXPECT_EQ(Column(kCurrent, QStringLiteral("Channel2Name")).toString(), QStringLiteral("Current"));
    // A name the operator gave is kept.
    Set(kCurrent, QStringLiteral("Channel2Name"), QStringLiteral("Pump"));
    Read(kCurrent, 40.0f, 5.9f);
    EXPECT_EQ(Column(kCurrent, QStringLiteral("Channel2Name")).toString(), QStringLiteral("Pump"));
}

// --- AppendHistory ----------------------------------------------------------------------

TEST_F(SensorTableTest, History_EmptyColumnsStayNull)
{
    const QString reply = QStringLiteral("28A1B2C3D4E5F60A,21.50,70.70\r\n"
                                         "26A1B2C3D4E5F60B 1E,24.0,75.2,51,0,1\r\n"
                                         "26A1B2C3D4E5F60D 1D,24.0,75.2,1,0\r\nEOD\r\n");
    const QDateTime at = NowWholeSeconds();
    DecodeReply(reply, QStringLiteral("C"), [&](const SensorLine &l) { AppendHistory(l, at); });

    QSqlQuery q = Exec(QStringLiteral("SELECT SensorID, lTime, lTemp, lCh2, lWtr FROM LogTbl ORDER BY rowid"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), kTemp);
    EXPECT_DOUBLE_EQ(q.value(1).toDouble(), ToSerial(at));
    EXPECT_EQ(q.value(2).toDouble(), 21.5);
    EXPECT_TRUE(q.value(3).isNull());
    EXPECT_TRUE(q.value(4).isNull());
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(3).toDouble(), 51.0);
    EXPECT_EQ(q.value(4).toInt(), 2);
    ASSERT_TRUE(q.next());
    EXPECT_TRUE(q.value(3).isNull());
    EXPECT_EQ(q.value(4).toInt(), 1);
    EXPECT_FALSE(q.next());
}

TEST_F(SensorTableTest, History_FailedWriteThrows)
{
    Exec(QStringLiteral("DROP TABLE LogTbl"));
    SensorLine line;
    line.id = kTemp;
    EXPECT_THROW(AppendHistory(line, NowWholeSeconds()), ClarowError);
}

// --- EvaluateSensors: alarm codes --------------------------------------------------------

TEST_F(SensorTableTest, Limits_AreStrict)
{
    Read(kTemp, 50.0f);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 0);
    Read(kTemp, 32.0f);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 0);

    Read(kTemp, 50.1f);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 2);
    EXPECT_EQ(Column(kTemp, QStringLiteral("InAlarm")).toInt(), 1);
    Read(kTemp, 31.9f);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 1);

    // A reading equal to a limit that is not a whole number is no alarm either, however
    // precisely the limit was stored.
    Set(kTemp, QStringLiteral("aTempLo"), 22.05);
    Read(kTemp, 22.05f);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 0);
}

TEST_F(SensorTableTest, SecondChannel_LimitsAndPrecedence)
{
    Read(kHumid, 40.0f, 45.0f);
    Read(kHumid, 40.0f, 80.5f);
    Evaluate();
    EXPECT_EQ(AlType(kHumid), 4);
    Read(kHumid, 40.0f, 19.0f);
    Evaluate();
    EXPECT_EQ(AlType(kHumid), 3);
    // Temperature wins over the second channel.
    Read(kHumid, 51.0f, 19.0f);
    Evaluate();
    EXPECT_EQ(AlType(kHumid), 2);
    // An empty limit makes only its own test false.
    Set(kHumid, QStringLiteral("aCh2Lo"), QVariant());
    Read(kHumid, 40.0f, 19.0f);
    Evaluate();
    EXPECT_EQ(AlType(kHumid), 0);
}

TEST_F(SensorTableTest, WaterAndHumidity_FaultWinsOverEverything)
{
    Read(kWaterHumid, 40.0f, 51.0f, 0);
    Read(kWaterHumid, 20.0f, 95.0f, 1);
    Evaluate();
    EXPECT_EQ(AlType(kWaterHumid), 7);
}

TEST_F(SensorTableTest, WaterOnly_NoWetOrDryAlarmByDefaultButFault)
{
    Read(kWater, 40.0f, 0, 0);
    Read(kWater, 40.0f, 0, 2);
    Evaluate();
    EXPECT_EQ(AlType(kWater), 0);
    Read(kWater, 40.0f, 0, 0);
    Evaluate();
    EXPECT_EQ(AlType(kWater), 0);
    Read(kWater, 40.0f, 0, 1);
    Evaluate();
    EXPECT_EQ(AlType(kWater), 7);

    Set(kWater, QStringLiteral("aWtDr"), 1);
    Read(kWater, 40.0f, 0, 2);
    Evaluate();
    EXPECT_EQ(AlType(kWater), 5);
    Set(kWater, QStringLiteral("aWtDr"), 2);
    Read(kWater, 40.0f, 0, 0);
    Evaluate();
    EXPECT_EQ(AlType(kWater), 6);
    // A water-only sensor never judges a second channel, whatever limits it holds.
    Set(kWater, QStringLiteral("aCh2Lo"), 20.0);
    Set(kWater, QStringLiteral("cCh2"), 0.0);
    Read(kWater, 40.0f, 0, 2);
    Evaluate();
    EXPECT_EQ(AlType(kWater), 0);
}

TEST_F(SensorTableTest, MissingFromScan_DisconnectedThenReconnected)
{
    Read(kTemp, 40.0f);
    Read(kHumid, 40.0f, 45.0f);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 0);

    NextMinute();
    Read(kHumid, 40.0f, 45.0f); // kTemp did not answer
    Evaluate();
    EXPECT_EQ(Column(kTemp, QStringLiteral("Connected")).toInt(), 0);
    EXPECT_EQ(AlType(kTemp), 9);
    EXPECT_EQ(Column(kTemp, QStringLiteral("InAlarm")).toInt(), 1);
    EXPECT_EQ(AlType(kHumid), 0);

    NextMinute();
    Read(kTemp, 55.0f);
    Evaluate();
    EXPECT_EQ(Column(kTemp, QStringLiteral("Connected")).toInt(), 1);
    EXPECT_EQ(AlType(kTemp), 2);
}

TEST_F(SensorTableTest, ReadingExactly30SecondsOld_IsDisconnected)
{
    Read(kTemp, 40.0f);
    m_clock.advanceMs(29'000);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 0);
    m_clock.advanceMs(1'000);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 9);
}

TEST_F(SensorTableTest, SilentForTwoHours_IsLostWithoutMakingAMailDue)
{
    program().settings.SendMailAlarm = true;
    program().settings.SendMailRtn = true;
    Read(kTemp, 40.0f);
    m_clock.advanceMs(60'000);
    Evaluate();
    EXPECT_EQ(AlType(kTemp), 9);
    Set(kTemp, QStringLiteral("MailSent"), 1); // the disconnection was mailed

    m_clock.advanceMs(2 * 3600'000 - 61'000);
    EXPECT_FALSE(Evaluate());
    EXPECT_EQ(AlType(kTemp), 9);
    // A silent sensor cannot be listed as back to normal: no mail becomes due for it.
    m_clock.advanceMs(2'000);
    EXPECT_FALSE(Evaluate());
    EXPECT_EQ(AlType(kTemp), 0);
    EXPECT_EQ(Column(kTemp, QStringLiteral("InAlarm")).toInt(), 0);
    EXPECT_EQ(Column(kTemp, QStringLiteral("Connected")).toInt(), 0);
}

// --- EvaluateSensors: counting towards a mail --------------------------------------------

TEST_F(SensorTableTest, NewSensorsFirstAlarm_IsMailed)
{
    program().settings.SendMailAlarm = true;
    Read(kTemp, 55.0f);
    EXPECT_TRUE(Evaluate());
    EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 0);
}

TEST_F(SensorTableTest, ConsecutiveScans_MailOnTheThirdAndResetByANormalScan)
{
    program().settings.SendMailAlarm = true;
    program().settings.MinsConsecutive = 3;
    Read(kTemp, 55.0f);
    EXPECT_FALSE(Evaluate());
    NextMinute();
    Read(kTemp, 55.0f);
    EXPECT_FALSE(Evaluate());
    EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 2);
    NextMinute();
    Read(kTemp, 40.0f);
    EXPECT_FALSE(Evaluate());
    EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 0);

    for (int scan = 1; scan <= 3; ++scan) {
        NextMinute();
        Read(kTemp, 55.0f);
        EXPECT_EQ(Evaluate(), scan == 3) << "scan " << scan;
    }
    EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 0);
}

TEST_F(SensorTableTest, ReturnToNormal_MailedOnlyWhenWanted)
{
    program().settings.SendMailAlarm = true;
    program().settings.MinsConsecutive = 2;
    Read(kTemp, 40.0f);
    Set(kTemp, QStringLiteral("MailSent"), 1);
    EXPECT_FALSE(Evaluate());
    EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 1);
    NextMinute();
    Read(kTemp, 40.0f);
    EXPECT_FALSE(Evaluate()); // return-to-normal mail not wanted; the count still restarts
    EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 0);
    // ... and the sensor counts as not mailed, so its next alarm is mailed again.
    EXPECT_EQ(Column(kTemp, QStringLiteral("MailSent")).toInt(), 0);

    program().settings.SendMailRtn = true;
    Set(kTemp, QStringLiteral("MailSent"), 1);
    for (int scan = 1; scan <= 2; ++scan) {
        NextMinute();
        Read(kTemp, 40.0f);
        EXPECT_EQ(Evaluate(), scan == 2);
    }
    // Still in alarm after the mail: the count stays at 0.
    NextMinute();
    Read(kTemp, 55.0f);
    EXPECT_FALSE(Evaluate());
    EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 0);
}

TEST_F(SensorTableTest, EmptyMailSentAndCount_NeverReachAMail)
{
    program().settings.SendMailAlarm = true;
    program().settings.SendMailRtn = true;
    Read(kTemp, 40.0f);
    Set(kTemp, QStringLiteral("MailSent"), QVariant());
    Set(kTemp, QStringLiteral("ConcAlarms"), QVariant());
    // An empty MailSent is not "not mailed": the normal reading counts towards a return
    // mail, but an empty count never reaches it.
    EXPECT_FALSE(Evaluate());
    EXPECT_TRUE(Column(kTemp, QStringLiteral("ConcAlarms")).isNull());
    // An alarm with an empty MailSent restarts the count.
    Read(kTemp, 55.0f);
    EXPECT_FALSE(Evaluate());
    EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 0);
}

TEST_F(SensorTableTest, MailOff_CountNeverChanges)
{
    program().settings.MinsConsecutive = 1;
    Read(kTemp, 55.0f);
    Set(kTemp, QStringLiteral("ConcAlarms"), 5);
    for (int scan = 0; scan < 3; ++scan) {
        NextMinute();
        Read(kTemp, 55.0f);
        EXPECT_FALSE(Evaluate());
        EXPECT_EQ(AlType(kTemp), 2);
        EXPECT_EQ(Column(kTemp, QStringLiteral("ConcAlarms")).toInt(), 5);
    }
}

TEST_F(SensorTableTest, Evaluation_InsideTheScanTransaction)
{
    Read(kTemp, 55.0f);
    ASSERT_TRUE(Db().transaction());
    Evaluate();
    ASSERT_TRUE(Db().commit());
    EXPECT_EQ(AlType(kTemp), 2);
}
