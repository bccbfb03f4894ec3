// The reading exchange with the real port and clock against the simulator.
#include "monitor/ReadAdapter.h"

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
    e.result = ReadAdapter(*port, portNumber, false, e.rxBuffer, e.lastGoodRead,
                           [&e](const QString &t) { e.statuses.append(t); });
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
