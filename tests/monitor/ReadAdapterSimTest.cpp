// The reading exchange with the real port and clock against the simulator.
#include "monitor/ReadAdapter.h"

#include "core/DiagnosticLog.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/SerialPort.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {
struct Exchange
{
    QDateTime result;
    QString rxBuffer;
    QDateTime lastGoodRead;
    QStringList statuses;
};

Exchange readFrom(SimProcess &sim, int portNumber)
{
    sim.attachAsPort(portNumber);
    auto port = MakeSerialPort();
    Exchange e;
    const ReadResult r = ReadAdapter(*port, portNumber, false, [&e](const QString &t) { e.statuses.append(t); });
    e.result = r.readAt;
    e.rxBuffer = r.reply;
    if (r.status == ReadStatus::Complete)
        e.lastGoodRead = r.readAt;
    EXPECT_FALSE(port->isOpen());
    return e;
}
} // namespace

TEST(ReadAdapterSim, DemoBus_GivesACompleteReading)
{
    NoRealPorts noRealPorts;
    TestHome home;
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const QDateTime before = NowWholeSeconds();

    const Exchange e = readFrom(sim, 1);

    EXPECT_EQ(e.statuses, QStringList {QStringLiteral("Reading successful")}) << sim.log().toStdString();
    EXPECT_FALSE(IsZeroDate(e.result));
    EXPECT_GE(e.result, before);
    EXPECT_EQ(e.result, e.lastGoodRead);
    EXPECT_TRUE(e.rxBuffer.contains(QStringLiteral("28FF4A1C62160344,")));
    EXPECT_TRUE(e.rxBuffer.contains(QStringLiteral("26F2E80300000033 1E,")));
    EXPECT_TRUE(e.rxBuffer.trimmed().endsWith(QStringLiteral("EOD")));
}

TEST(ReadAdapterSim, SmallScenario_ReplyHoldsItsSensorLines)
{
    NoRealPorts noRealPorts;
    TestHome home;
    SimProcess sim(QStringLiteral("sensor 10AA000000000001 temp=21.5\n"
                                  "sensor 26BB000000000002 19 temp=-3.25 humidity=64\n"));
    ASSERT_TRUE(sim.started());

    const Exchange e = readFrom(sim, 7);

    EXPECT_FALSE(IsZeroDate(e.result)) << sim.log().toStdString();
    EXPECT_TRUE(e.rxBuffer.contains(QStringLiteral("10AA000000000001,21.5,70.7")));
    EXPECT_TRUE(e.rxBuffer.contains(QStringLiteral("26BB000000000002 19,")));
    EXPECT_TRUE(e.rxBuffer.contains(QStringLiteral(",64")));
    EXPECT_EQ(e.rxBuffer.count(QLatin1Char('\r')), 3);
}

TEST(ReadAdapterSim, EmptyBus_SaysNoSensorsConnected)
{
    NoRealPorts noRealPorts;
    TestHome home;
    SimProcess sim(QStringLiteral("fault no-sensors\n"));
    ASSERT_TRUE(sim.started());

    const Exchange e = readFrom(sim, 3);

    EXPECT_TRUE(IsZeroDate(e.result));
    EXPECT_EQ(e.statuses, QStringList {QStringLiteral("No sensors connected")}) << sim.log().toStdString();
    EXPECT_TRUE(e.rxBuffer.isEmpty());
}

TEST(ReadAdapterSim, ErrorReplyOnce_IsRetriedAndRead)
{
    NoRealPorts noRealPorts;
    TestHome home;
    SimProcess sim(QStringLiteral("sensor 10AA000000000001 temp=21.5\nfault error times=1\n"));
    ASSERT_TRUE(sim.started());

    const Exchange e = readFrom(sim, 2);

    EXPECT_EQ(e.statuses, (QStringList {QStringLiteral("Scan failed, retrying."),
                                        QStringLiteral("Reading successful")}))
        << sim.log().toStdString();
    EXPECT_FALSE(IsZeroDate(e.result));
    EXPECT_FALSE(e.rxBuffer.contains(QLatin1Char('?')));
}

TEST(ReadAdapterSim, ReplyThatNeverEnds_EndsAtTheSizeLimitAndTheNextReadingIsClean)
{
    // The simulator repeats its lines as fast as the terminal takes them and never sends
    // "EOD"; the exchange gives up at its size limit instead of listening for ever, and the
    // next one, which stops the stream, reads the bus again without the old reply's tail.
    NoRealPorts noRealPorts;
    TestHome home;
    program().settings.LogErrors = true;
    SimProcess sim(QStringLiteral("sensor 10AA000000000001 temp=21.5\nfault endless 0 times=1\n"));
    ASSERT_TRUE(sim.started());

    const Exchange endless = readFrom(sim, 1);
    const Exchange next = readFrom(sim, 1);
    program().settings.LogErrors = false;

    EXPECT_EQ(endless.statuses, QStringList{QStringLiteral("Scan timed out.")}) << sim.log().toStdString();
    EXPECT_TRUE(IsZeroDate(endless.result));
    EXPECT_EQ(endless.rxBuffer.size(), 65536);
    EXPECT_FALSE(endless.rxBuffer.contains(QStringLiteral("EOD")));
    EXPECT_TRUE(home.readFile(LogFileName(Now())).contains(QStringLiteral("grew past 65536 characters")));

    EXPECT_EQ(next.statuses, QStringList{QStringLiteral("Reading successful")}) << sim.log().toStdString();
    EXPECT_TRUE(next.rxBuffer.trimmed().endsWith(QStringLiteral("10AA000000000001,21.5,70.7\r\nEOD")));
}
