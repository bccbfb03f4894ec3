// Adapter discovery: the probe logic in virtual time against scripted ports, and the whole
// search against the simulator on real pseudo-terminals.
#include "core/FindVarnex.h"

#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/SerialPort.h"
#include "link/VirtualClock.h"
#include "tests/support/ScriptedSerialPort.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestHome.h"

#include <QSettings>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

// The PortNumber key as the settings store holds it ("" when never written).
QString storedPortNumber()
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    s.sync();
    return s.value(QStringLiteral("ClarowMon/PortNumber")).toString();
}

// A scripted bus with one adapter on one port that answers the identification with text.
class ScriptedDiscovery : public ::testing::Test
{
protected:
    ScriptedDiscovery() : m_use(m_clock) {}

    void adapterOn(int adapterPort, const QString &identification)
    {
        port.setResponder([adapterPort, identification](int p, const QString &text) {
            if (p != adapterPort || text != QLatin1String(" "))
                return Reply {};
            return Reply {{30, identification}};
        });
    }

    int find(bool singlePort = false)
    {
        return FindVarnex(port, singlePort, [this](int p) { tried.append(p); });
    }

    TestHome home;
    VirtualClock m_clock;
    ScopedClock m_use;
    ScriptedSerialPort port;
    QList<int> tried;
};

} // namespace

TEST_F(ScriptedDiscovery, AdapterOnNextPortAfterWrap_IsFoundAndRemembered)
{
    program().settings.PortNumber = 15;
    adapterOn(2, QStringLiteral("Varnex V1.0h\r\n"));

    EXPECT_EQ(find(), VarnexReady);

    EXPECT_EQ(tried, (QList<int> {15, 16, 1, 2}));
    EXPECT_EQ(program().settings.PortNumber, 2);
    EXPECT_EQ(storedPortNumber(), QStringLiteral("2"));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(ScriptedDiscovery, ReplyWithoutCarriageReturn_IsNotRecognised)
{
    program().settings.PortNumber = 1;
    adapterOn(1, QStringLiteral("Varnex V1.0h  ..."));

    EXPECT_EQ(find(true), NoVarnex);
    EXPECT_EQ(tried, QList<int> {1});
    // The probe went on for its second before giving up.
    EXPECT_GE(port.written().count(QStringLiteral("b")), 8);
}

TEST_F(ScriptedDiscovery, ShortReply_IsNotExamined)
{
    program().settings.PortNumber = 3;
    adapterOn(3, QStringLiteral("VARNEX V1.0H"));   // 12 characters, no line end needed to fail
    EXPECT_EQ(find(true), NoVarnex);
    adapterOn(3, QStringLiteral("Varnex 1.0H\r"));  // 12 characters with its carriage return
    EXPECT_EQ(find(true), NoVarnex);
    adapterOn(3, QStringLiteral("Varnex V1.0H\r")); // 13
    EXPECT_EQ(find(true), VarnexReady);
}

TEST_F(ScriptedDiscovery, NothingAnywhere_TriesAllSixteenPortsOnceAndKeepsPortNumber)
{
    program().settings.PortNumber = 7;
    port.setPresentPorts({7, 8});

    EXPECT_EQ(find(), NoVarnex);

    ASSERT_EQ(tried.size(), 16);
    EXPECT_EQ(tried.first(), 7);
    EXPECT_EQ(tried.last(), 6);
    EXPECT_EQ(program().settings.PortNumber, 7);
    EXPECT_EQ(storedPortNumber(), QString());
    EXPECT_EQ(port.opens(), port.closes());
}

TEST(FirmwareVerdict, RevisionHOfVersionOneIsTheFirstSuitable)
{
    EXPECT_EQ(FirmwareVerdict(QStringLiteral("VARNEX V1.0H\r")), VarnexReady);
    EXPECT_EQ(FirmwareVerdict(QStringLiteral("Varnex V1.0h\r\n")), VarnexReady);
    EXPECT_EQ(FirmwareVerdict(QStringLiteral("VARNEX V1.2Z\r")), VarnexReady);
    EXPECT_EQ(FirmwareVerdict(QStringLiteral("VARNEX V1.0G\r")), VarnexTooOld);
    EXPECT_EQ(FirmwareVerdict(QStringLiteral("VARNEX V0.9Z\r")), VarnexTooOld);
    EXPECT_EQ(FirmwareVerdict(QStringLiteral("VARNEX\r")), VarnexTooOld);
}

// ---- against the simulator ---------------------------------------------------------------

namespace {
class SimDiscovery : public ::testing::Test
{
protected:
    int find(bool singlePort = false)
    {
        return FindVarnex(*port, singlePort, [this](int p) { tried.append(p); });
    }

    NoRealPorts noRealPorts;
    TestHome home;
    std::unique_ptr<SerialPort> port = MakeSerialPort();
    QList<int> tried;
};
} // namespace

TEST_F(SimDiscovery, AdapterOnPortOne_IsFoundAtOnce)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(1);
    program().settings.PortNumber = 1;

    EXPECT_EQ(find(), VarnexReady);

    EXPECT_EQ(tried, QList<int> {1});
    EXPECT_EQ(program().settings.PortNumber, 1);
    EXPECT_FALSE(port->isOpen());
}

TEST_F(SimDiscovery, PortFifteenWithAdapterOnTwo_TriesAroundTheEndAndStoresTwo)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(2);
    program().settings.PortNumber = 15;

    EXPECT_EQ(find(), VarnexReady);

    EXPECT_EQ(tried, (QList<int> {15, 16, 1, 2}));
    EXPECT_EQ(program().settings.PortNumber, 2);
    EXPECT_EQ(storedPortNumber(), QStringLiteral("2"));
}

TEST_F(SimDiscovery, SuppressScanWithAdapterElsewhere_GivesNothingAfterOneTry)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(4);
    program().settings.PortNumber = 3;
    program().settings.SuppressScan = true;

    EXPECT_EQ(find(), NoVarnex);

    EXPECT_EQ(tried, QList<int> {3});
    EXPECT_EQ(program().settings.PortNumber, 3);
    EXPECT_EQ(storedPortNumber(), QString());
}

TEST_F(SimDiscovery, OldFirmware_NeedsAnUpgrade)
{
    for (const QString &version : {QStringLiteral("V1.0g"), QStringLiteral("V0.9z")}) {
        SimProcess sim({}, {QStringLiteral("--version"), version});
        ASSERT_TRUE(sim.started());
        sim.attachAsPort(5);
        program().settings.PortNumber = 5;
        tried.clear();

        EXPECT_EQ(find(true), VarnexTooOld) << version.toStdString();
        EXPECT_EQ(tried, QList<int> {5});
    }
}

TEST_F(SimDiscovery, AdapterSharingTheBusWithAnotherSimulator_OnlyTheAdapterPortAnswers)
{
    // A second terminal that stays silent: a device that is not the adapter.
    SimProcess silent(QStringLiteral("fault silence\n"));
    SimProcess sim;
    ASSERT_TRUE(silent.started());
    ASSERT_TRUE(sim.started());
    silent.attachAsPort(9);
    sim.attachAsPort(10);
    program().settings.PortNumber = 9;

    EXPECT_EQ(find(), VarnexReady);

    EXPECT_EQ(tried, (QList<int> {9, 10}));
    EXPECT_EQ(program().settings.PortNumber, 10);
}
