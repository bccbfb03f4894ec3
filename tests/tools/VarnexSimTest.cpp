// The adapter simulator, spoken to over its pseudo-terminal with plain file calls, so that
// its answers are checked apart from the programs' own serial code.
#include "support/SimProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using clarow::test::SimProcess;

namespace {

// One opening of the simulator's terminal.
class Client
{
public:
    explicit Client(const QString &path)
        : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }

    void send(const QByteArray &text) { ASSERT_EQ(::write(m_fd, text.constData(), size_t(text.size())), text.size()); }

    // Everything received until the text ends with `end` (or a generous safety limit passes).
    QByteArray readUntil(const QByteArray &end)
    {
        const QDeadlineTimer deadline(15000);
        while (!m_received.endsWith(end) && !deadline.hasExpired()) {
            pollfd pfd {m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, 100) > 0 && (pfd.revents & POLLIN)) {
                char buffer[512];
                const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                if (n > 0)
                    m_received.append(buffer, n);
            }
        }
        return std::exchange(m_received, {});
    }

    QByteArray ask(const QByteArray &command, const QByteArray &end = "EOD\r\n")
    {
        send(command);
        return readUntil(end);
    }

private:
    int m_fd;
    QByteArray m_received;
};

const QString kBus = QStringLiteral(
    "# one of each kind\n"
    "sensor 2800000012345678 temp=21.5\n"
    "sensor 26000000000000A1 19 temp=-5.5 humidity=45   # cold store\n"
    "sensor 26000000000000A2 1A temp=20.25 voltage=512\n"
    "sensor 26000000000000A3 1C temp=20 current=123\n"
    "sensor 26000000000000A4 1D temp=20 fault=1 wet=0\n"
    "sensor 26000000000000A5 1E temp=20 humidity=60 fault=0 wet=1\n"
    "sensor 3000000000000042 07 temp=30\n");

const QByteArray kBusReading =
    "2800000012345678,21.5,70.7\r\n"
    "26000000000000A1 19,-5.5,22.1,45\r\n"
    "26000000000000A2 1A,20.25,68.45,512\r\n"
    "26000000000000A3 1C,20.0,68.0,123\r\n"
    "26000000000000A4 1D,20.0,68.0,1,0\r\n"
    "26000000000000A5 1E,20.0,68.0,60,0,1\r\n"
    "3000000000000042,07,30.0,86.0\r\n"
    "EOD\r\n";

} // namespace

TEST(VarnexSim, ReadingGivesOneLinePerSensorThenEod)
{
    SimProcess sim(kBus);
    ASSERT_TRUE(sim.started()) << sim.log().toStdString();
    Client c(sim.path());
    ASSERT_TRUE(c.isOpen());
    EXPECT_EQ(c.ask("D"), kBusReading);
    EXPECT_TRUE(sim.log().contains(QLatin1String("D: reading 1")));
}

TEST(VarnexSim, DemoBusStartsInsideTheDefaultLimits)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    Client c(sim.path());
    const QList<QByteArray> lines = c.ask("D").split('\n');
    int sensors = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() < 3)
            continue;
        ++sensors;
        EXPECT_GE(f[1].toDouble(), 32.0) << line.constData();
        EXPECT_LE(f[1].toDouble(), 50.0) << line.constData();
        const QByteArray type = f[0].mid(17);
        if (type == "19" || type == "1B" || type == "1C" || type == "1E") {
            const double ch2 = type == "1C" ? f[3].toDouble() / 10 : f[3].toDouble();
            EXPECT_GE(ch2, 20.0) << line.constData();
            EXPECT_LE(ch2, 80.0) << line.constData();
        }
        if (type == "1D" || type == "1E") {
            EXPECT_TRUE(line.endsWith("0,0\r")) << line.constData();
        }
    }
    EXPECT_GE(sensors, 8);
}

TEST(VarnexSim, IdentificationCarriesTheFirmwareVersion)
{
    {
        SimProcess sim;
        Client c(sim.path());
        EXPECT_EQ(c.ask("b"
                        " ",
                        "\r\n"),
                  "Varnex V1.0h\r\n");
        EXPECT_EQ(c.ask(" ", "\r\n"), "Varnex V1.0h\r\n"); // the blank alone, as the type tool asks
    }
    {
        SimProcess sim(QStringLiteral("version V1.0a\nsensor 2800000012345678\n"));
        Client c(sim.path());
        EXPECT_EQ(c.ask("b ", "\r\n"), "Varnex V1.0a\r\n");
    }
    {
        // The command line beats the scenario.
        SimProcess sim(QStringLiteral("version V1.0a\n"), {QStringLiteral("--version"), QStringLiteral("V0.9z")});
        Client c(sim.path());
        EXPECT_EQ(c.ask("b ", "\r\n"), "Varnex V0.9z\r\n");
    }
}

TEST(VarnexSim, EmptyBusOrNoSensorsFaultAnswersQuery01)
{
    SimProcess empty(QStringLiteral("# nothing on the bus\n"));
    Client e(empty.path());
    EXPECT_EQ(e.ask("D", "\r\n"), "?01\r\n");
    EXPECT_EQ(e.ask("I", "\r\n"), "?01\r\n");

    SimProcess faulty(kBus + QStringLiteral("fault no-sensors times=1\n"));
    Client f(faulty.path());
    EXPECT_EQ(f.ask("D", "\r\n"), "?01\r\n");
    EXPECT_EQ(f.ask("D"), kBusReading); // the fault was for one reply only
}

TEST(VarnexSim, ErrorAndCutOffRepliesLackTheEod)
{
    SimProcess sim(kBus + QStringLiteral("fault error times=1\nafter 1 fault cut 40\n"));
    Client c(sim.path());
    const QByteArray withError = c.ask("D", "?\r\n");
    EXPECT_EQ(withError, kBusReading.left(kBusReading.size() - 5) + "?\r\n");

    c.send("D");
    c.send(" "); // whatever follows the cut-off reply comes straight after its 40 characters
    EXPECT_EQ(c.readUntil("Varnex V1.0h\r\n"), kBusReading.left(40) + "Varnex V1.0h\r\n");
}

TEST(VarnexSim, SlowReplyArrivesWhole)
{
    SimProcess sim(kBus + QStringLiteral("fault slow 7 20\n"));
    Client c(sim.path());
    EXPECT_EQ(c.ask("D"), kBusReading);
    EXPECT_EQ(c.ask("D"), kBusReading);
}

TEST(VarnexSim, SilenceAnswersNothingUntilItEnds)
{
    SimProcess sim(kBus + QStringLiteral("fault silence times=2\n"));
    Client c(sim.path());
    c.send("D");
    c.send(" ");
    EXPECT_EQ(c.ask(" ", "\r\n"), "Varnex V1.0h\r\n"); // the first two got no reply
}

TEST(VarnexSim, ValuesChangeAfterReadingsAndSensorsComeAndGo)
{
    SimProcess sim(QStringLiteral("sensor 2800000012345678 temp=36.5\n"
                                  "after 1 set 2800000012345678 temp=55\n"
                                  "after 2 sensor 2800000012345679 temp=40\n"
                                  "after 2 remove 2800000012345678\n"
                                  "at 0 set 2800000012345678 temp=37\n"));
    Client c(sim.path());
    EXPECT_EQ(c.ask("D"), "2800000012345678,37.0,98.6\r\nEOD\r\n");
    EXPECT_EQ(c.ask("D"), "2800000012345678,55.0,131.0\r\nEOD\r\n");
    EXPECT_EQ(c.ask("D"), "2800000012345679,40.0,104.0\r\nEOD\r\n");
}

TEST(VarnexSim, InventoryListsMultiSensorsAndTypeWriteChangesThem)
{
    SimProcess sim(kBus);
    Client c(sim.path());
    EXPECT_EQ(c.ask("I"),
              "26000000000000A1 19\r\n26000000000000A2 1A\r\n26000000000000A3 1C\r\n"
              "26000000000000A4 1D\r\n26000000000000A5 1E\r\nEOD\r\n");
    c.send("K0726000000000000A1");
    c.send("1B");
    c.send("K072800000012345678" "19"); // not a multi-sensor: left alone
    const QByteArray after = c.ask("I");
    EXPECT_TRUE(after.startsWith("26000000000000A1 1B\r\n")) << after.constData();
    EXPECT_FALSE(after.contains("28000000"));
    EXPECT_TRUE(c.ask("D").contains("26000000000000A1 1B,-5.5,22.1,50\r\n")); // light, default 50

    SimProcess plain(QStringLiteral("sensor 2800000012345678\n"));
    Client p(plain.path());
    EXPECT_EQ(p.ask("I"), "EOD\r\n");
}

TEST(VarnexSim, LoaderAcknowledgesRecordsAndUpgradesTheFirmware)
{
    SimProcess sim(QStringLiteral("version V1.0a\nsensor 2800000012345678\n"));
    Client c(sim.path());
    c.send("Z");
    EXPECT_EQ(c.ask("\r", "L10\r\n"), "L10\r\n");
    EXPECT_EQ(c.ask(":03000000112233AA\r", "?"), "?"); // checksum wrong
    EXPECT_EQ(c.ask(":0300000011223397\r", "."), ".");
    EXPECT_EQ(c.ask(":00000001FF\r", "."), ".");
    c.send("E");
    EXPECT_EQ(c.ask(" ", "\r\n"), "Varnex V1.0h\r\n");

    SimProcess stuck(QStringLiteral("version V1.0a\nfault loader-stop 1\n"));
    Client s(stuck.path());
    s.send("Z\r");
    EXPECT_EQ(s.readUntil("L10\r\n"), "L10\r\n");
    EXPECT_EQ(s.ask(":0300000011223397\r", "."), ".");
    s.send(":00000001FF\r"); // no longer acknowledged
    s.send("E");
    EXPECT_EQ(s.ask(" ", "\r\n"), "Varnex V1.0a\r\n"); // the image never completed
    EXPECT_TRUE(stuck.log().contains(QLatin1String("after 1 records")));

    SimProcess silent(QStringLiteral("fault loader-silent\n"));
    Client q(silent.path());
    q.send("Z\r");
    EXPECT_EQ(q.ask(" ", "\r\n"), "Varnex V1.0h\r\n"); // no loader prompt before it
}

TEST(VarnexSim, TerminalSurvivesTheClientClosingAndReopening)
{
    SimProcess sim(kBus);
    for (int round = 0; round < 3; ++round) {
        Client c(sim.path());
        ASSERT_TRUE(c.isOpen()) << "round " << round;
        EXPECT_EQ(c.ask("D"), kBusReading) << "round " << round;
    }
    {
        Client leaving(sim.path());
        leaving.send("D"); // closed before the reply is read
    }
    Client c(sim.path()); // may still find the unread reply first
    EXPECT_EQ(c.ask(" ", "Varnex V1.0h\r\n").right(14), "Varnex V1.0h\r\n");
}

TEST(VarnexSim, LinkNamesTheTerminalWhileItRuns)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    {
        SimProcess sim({}, {QStringLiteral("--link"), link});
        ASSERT_TRUE(sim.started());
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.path());
        SimProcess again({}, {QStringLiteral("--link"), link}); // an older link is replaced
        ASSERT_TRUE(again.started());
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), again.path());
        Client c(link);
        EXPECT_TRUE(c.ask("D").endsWith("EOD\r\n"));
    }
    EXPECT_FALSE(QFileInfo::exists(link) || QFileInfo(link).isSymLink());
}

TEST(VarnexSim, BadScenarioStopsWithTheLineNumber)
{
    SimProcess sim(QStringLiteral("sensor 2800000012345678\nsensor 28XYZ temp=1\n"));
    EXPECT_FALSE(sim.started());
    EXPECT_TRUE(sim.log().contains(QLatin1String("line 2"))) << sim.log().toStdString();

    SimProcess unknown(QStringLiteral("fault sometimes\n"));
    EXPECT_FALSE(unknown.started());
}

TEST(VarnexSim, AttachAsPortSetsAndRestoresTheVariable)
{
    qputenv("VARNEX_PORT_3", "/dev/before");
    {
        SimProcess sim;
        sim.attachAsPort(3);
        EXPECT_EQ(qgetenv("VARNEX_PORT_3"), sim.path().toLocal8Bit());
        {
            clarow::test::NoRealPorts none;
            EXPECT_TRUE(qgetenv("VARNEX_PORT_3").startsWith("/nonexistent/"));
            EXPECT_TRUE(qgetenv("VARNEX_PORT_16").startsWith("/nonexistent/"));
        }
        EXPECT_EQ(qgetenv("VARNEX_PORT_3"), sim.path().toLocal8Bit());
    }
    EXPECT_EQ(qgetenv("VARNEX_PORT_3"), "/dev/before");
    qunsetenv("VARNEX_PORT_3");
}

TEST(VarnexSim, ShippedScenariosAreUnderstood)
{
    const QDir folder(QStringLiteral(CLAROW_SOURCE_DIR "/tools/varnex-sim/scenarios"));
    const QStringList files = folder.entryList({QStringLiteral("*.txt")});
    EXPECT_GE(files.size(), 3);
    for (const QString &name : files) {
        SimProcess sim({}, {QStringLiteral("--scenario"), folder.filePath(name)});
        ASSERT_TRUE(sim.started()) << name.toStdString() << ": " << sim.log().toStdString();
        Client c(sim.path());
        EXPECT_TRUE(c.ask("D").endsWith("EOD\r\n")) << name.toStdString();
    }
}
