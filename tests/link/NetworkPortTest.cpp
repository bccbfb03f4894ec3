// Adapters behind a serial-to-network bridge: how a port number finds its device, and the
// exchanges through a real ser2net in front of the simulator's pseudo-terminal.
#include "link/Clock.h"
#include "link/NetworkPort.h"
#include "link/SerialPort.h"
#include "monitor/ReadAdapter.h"
#include "NetworkServers.h"
#include "SimProcess.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <optional>

using namespace clarow;
using namespace clarow::test;

namespace {

// Sets (or with nullopt removes) an environment variable and key N of [Ports] for one test.
class PortSetting
{
public:
    PortSetting(int number, std::optional<QByteArray> env, const QString &stored)
        : m_name("VARNEX_PORT_" + QByteArray::number(number)), m_key(QStringLiteral("Ports/%1").arg(number))
    {
        if (qEnvironmentVariableIsSet(m_name.constData()))
            m_saved = qgetenv(m_name.constData());
        if (env)
            qputenv(m_name.constData(), *env);
        else
            qunsetenv(m_name.constData());
        QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).setValue(m_key, stored);
    }
    ~PortSetting()
    {
        if (m_saved)
            qputenv(m_name.constData(), *m_saved);
        else
            qunsetenv(m_name.constData());
        QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).remove(m_key);
    }

private:
    QByteArray m_name;
    QString m_key;
    std::optional<QByteArray> m_saved;
};

QDateTime readThrough(SerialPort &port, QString &reply)
{
    QDateTime last;
    return ReadAdapter(port, 1, false, reply, last, {});
}

} // namespace

TEST(PortDevice, EnvironmentBeatsTheSettingsWhichBeatTheDefault)
{
    struct Case
    {
        std::optional<QByteArray> env;
        QString stored;
        QString expected;
    };
    const Case cases[] = {
        {QByteArray("/dev/ttyACM0"), QStringLiteral("tcp://127.0.0.1:2000"), QStringLiteral("/dev/ttyACM0")},
        {std::nullopt, QStringLiteral(" tcp://127.0.0.1:4001 "), QStringLiteral("tcp://127.0.0.1:4001")},
        {std::nullopt, QString(), QStringLiteral("/dev/ttyUSB2")},
    };
    for (const Case &c : cases) {
        PortSetting three(3, c.env, c.stored);
        EXPECT_EQ(PortDeviceName(3), c.expected) << c.stored.toStdString();
    }
}

TEST(PortDevice, OnlyAHostAndAPortNameABridge)
{
    struct Case
    {
        const char *text;
        const char *host; // nullptr: not a bridge's name
        quint16 port;
    };
    const Case cases[] = {
        {"tcp://127.0.0.1:4001", "127.0.0.1", 4001}, {"TCP://localhost:2000", "localhost", 2000},
        {"tcp://[::1]:4001", "::1", 4001},           {"tcp://127.0.0.1", nullptr, 0},
        {"tcp://127.0.0.1:0", nullptr, 0},           {"tcp://127.0.0.1:70000", nullptr, 0},
        {"tcp://127.0.0.1:4001/x", nullptr, 0},      {"tcp://user@127.0.0.1:4001", nullptr, 0},
        {"/dev/ttyUSB0", nullptr, 0},
    };
    for (const Case &c : cases) {
        const auto a = ParseNetworkDevice(QLatin1String(c.text));
        ASSERT_EQ(a.has_value(), c.host != nullptr) << c.text;
        if (a) {
            EXPECT_EQ(a->host, QLatin1String(c.host)) << c.text;
            EXPECT_EQ(a->port, c.port) << c.text;
        }
    }
}

TEST(NetworkPort, ThroughSer2Net_ReadsRecoversFromDropsAndAnAbsentBridgeIsAnAbsentPort)
{
    if (!HaveProgram(QStringLiteral("ser2net")))
        GTEST_SKIP() << "ser2net is not installed (tools/install-deps installs it)";
    NoRealPorts noRealPorts;
    // Slow enough that the bridge can be stopped half-way through a reply.
    SimProcess sim(QStringLiteral("sensor 28A1B2C3D4E5F60A temp=21.5\n"
                                  "sensor 26A1B2C3D4E5F60B 19 temp=23.5 humidity=45\n"
                                  "fault slow 8 150\n"));
    ASSERT_TRUE(sim.started());
    Ser2Net bridge(sim.path(), FreeTcpPort());
    ASSERT_TRUE(bridge.start()) << bridge.log().toStdString();
    PortSetting one(1, std::nullopt, bridge.deviceName());
    auto port = MakeSerialPort();

    QString reply;
    EXPECT_TRUE(TestPort(*port, 1));
    EXPECT_FALSE(IsZeroDate(readThrough(*port, reply))) << reply.toStdString() << sim.log().toStdString();
    EXPECT_TRUE(reply.contains(QLatin1String("26A1B2C3D4E5F60B 19,23.5")));
    EXPECT_TRUE(reply.trimmed().endsWith(QLatin1String("EOD")));
    EXPECT_FALSE(port->isOpen());

    // The bridge goes away in the middle of a reply: what arrived is a cut-off reply.
    port->setPortNumber(1);
    ASSERT_TRUE(port->open());
    ASSERT_TRUE(port->write(QStringLiteral("D")));
    ASSERT_TRUE(WaitUntil([&] { return port->bytesWaiting() > 0; }, 5000));
    bridge.stop();
    QString cut = port->readAll();
    for (int i = 0; i < 10; ++i)
        cut += port->readAll();
    EXPECT_FALSE(cut.contains(QLatin1String("EOD"))) << cut.toStdString();
    EXPECT_EQ(port->bytesWaiting(), 0);
    EXPECT_FALSE(port->write(QStringLiteral("D")));
    port->close();

    // No bridge listening: the port does not exist, and a reading fails without waiting long.
    EXPECT_FALSE(TestPort(*port, 1));
    EXPECT_TRUE(IsZeroDate(readThrough(*port, reply)));
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_FALSE(port->errorText().isEmpty());

    // The bridge is back: the same port object reads again.
    ASSERT_TRUE(bridge.start()) << bridge.log().toStdString();
    EXPECT_FALSE(IsZeroDate(readThrough(*port, reply))) << reply.toStdString();
}
