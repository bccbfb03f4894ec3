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

// Sets (or with nullopt removes) VARNEX_PORT_N and key N of [Ports] for one case; the
// environment is put back and the key removed afterwards.
struct PortSetting
{
    PortSetting(int n, const std::optional<QByteArray> &env, const QString &stored)
        : name("VARNEX_PORT_" + QByteArray::number(n)), key(QStringLiteral("Ports/%1").arg(n)), saved(qgetenv(name.constData()))
    {
        env ? qputenv(name.constData(), *env) : qunsetenv(name.constData());
        QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).setValue(key, stored);
    }
    ~PortSetting()
    {
        saved.isNull() ? qunsetenv(name.constData()) : qputenv(name.constData(), saved);
        QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).remove(key);
    }
    QByteArray name;
    QString key;
    QByteArray saved;
};

QDateTime readThrough(SerialPort &port, QString &reply)
{
    const ReadResult r = ReadAdapter(port, 1, false, {});
    reply = r.reply;
    return r.readAt;
}

} // namespace

TEST(PortDevice, EnvironmentBeatsTheSettingsWhichBeatTheDefault_OnlyHostAndPortNameABridge)
{
    const struct
    {
        std::optional<QByteArray> env;
        QString stored, expected;
    } lookups[] = {
        {QByteArray("/dev/ttyACM0"), QStringLiteral("tcp://127.0.0.1:2000"), QStringLiteral("/dev/ttyACM0")},
        {std::nullopt, QStringLiteral(" tcp://127.0.0.1:4001 "), QStringLiteral("tcp://127.0.0.1:4001")},
        {std::nullopt, QString(), QStringLiteral("/dev/ttyUSB2")},
    };
    for (const auto &c : lookups) {
        PortSetting three(3, c.env, c.stored);
        EXPECT_EQ(PortDeviceName(3), c.expected) << c.stored.toStdString();
    }
    const struct
    {
        const char *text, *host; // host nullptr: not a bridge's name
        quint16 port;
    } names[] = {
        {"tcp://127.0.0.1:4001", "127.0.0.1", 4001}, {"TCP://localhost:2000", "localhost", 2000},
        {"tcp://[::1]:4001", "::1", 4001},           {"tcp://127.0.0.1", nullptr, 0},
        {"tcp://127.0.0.1:70000", nullptr, 0},       {"tcp://127.0.0.1:4001/x", nullptr, 0},
        {"tcp://user@127.0.0.1:4001", nullptr, 0},   {"/dev/ttyUSB0", nullptr, 0},
    };
    for (const auto &c : names) {
        const auto a = ParseNetworkDevice(QLatin1String(c.text));
        EXPECT_EQ(a ? a->host + QLatin1Char(':') + QString::number(a->port) : QString(),
                  c.host ? QLatin1String(c.host) + QLatin1Char(':') + QString::number(c.port) : QString());
    }
}

TEST(NetworkPort, ThroughSer2Net_ReadsRecoversFromDropsAndAnAbsentBridgeIsAnAbsentPort)
{
    if (!HaveProgram(QStringLiteral("ser2net")))
        GTEST_SKIP() << "ser2net is not installed (tools/install-deps installs it)";
    NoRealPorts noRealPorts;
    // Slow enough that the bridge can be stopped half-way through a reply.
    Ser2Net bridge(QStringLiteral("sensor 28A1B2C3D4E5F60A temp=21.5\n"
                                  "sensor 26A1B2C3D4E5F60B 19 temp=23.5 humidity=45\n"
                                  "fault slow 8 150\n"));
    ASSERT_TRUE(bridge.start()) << bridge.log();
    PortSetting one(1, std::nullopt, bridge.deviceName());
    auto port = MakeSerialPort();

    QString reply;
    EXPECT_TRUE(TestPort(*port, 1));
    EXPECT_FALSE(IsZeroDate(readThrough(*port, reply))) << reply.toStdString() << bridge.log();
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
    ASSERT_TRUE(bridge.start()) << bridge.log();
    EXPECT_FALSE(IsZeroDate(readThrough(*port, reply))) << reply.toStdString();
}
