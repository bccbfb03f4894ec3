// The real port on a pseudo-terminal of the test's own: naming, line, text, absent devices
// and lock files.
#include "link/SerialPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace clarow;

namespace {

// Sets one environment variable for the length of a test.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// The far end of a pseudo-terminal: what the adapter would be.
class Peer
{
public:
    Peer()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        m_path = QString::fromLocal8Bit(ptsname(m_master));
        // Our own hold on the terminal, so that the port's close does not hang it up.
        m_hold = ::open(ptsname(m_master), O_RDWR | O_NOCTTY);
        termios tio {};
        tcgetattr(m_hold, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_hold, TCSANOW, &tio);
    }
    ~Peer()
    {
        if (m_hold >= 0)
            ::close(m_hold);
        if (m_master >= 0)
            ::close(m_master);
    }
    [[nodiscard]] QString path() const { return m_path; }
    void send(const QByteArray &bytes) { ASSERT_EQ(::write(m_master, bytes.constData(), bytes.size()), bytes.size()); }
    // What the port wrote, waiting up to two seconds for it.
    QByteArray receive(qsizetype count)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < count && t.elapsed() < 2000) {
            pollfd p {m_master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
        return got;
    }

private:
    int m_master = -1;
    int m_hold = -1;
    QString m_path;
};

// Waits, without ever running the event loop, until the port reports characters.
int waitForCharacters(SerialPort &port, int count)
{
    QElapsedTimer t;
    t.start();
    int n = 0;
    while ((n = port.bytesWaiting()) < count && t.elapsed() < 3000)
        QThread::msleep(10);
    return n;
}

QString lockFileFor(const QString &device)
{
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("/var/lock/LCK..") + name;
}

} // namespace

TEST(PortDeviceName, EnvironmentNamesThePortElseUsbSerialDevice)
{
    ScopedEnv three("VARNEX_PORT_3", "/tmp/some-adapter");
    ScopedEnv one("VARNEX_PORT_1", QByteArray());
    EXPECT_EQ(PortDeviceName(3), QStringLiteral("/tmp/some-adapter"));
    EXPECT_EQ(PortDeviceName(1), QStringLiteral("/dev/ttyUSB0"));
}

TEST(QtSerialPort, MissingNamedDevice_IsAnAbsentPort)
{
    ScopedEnv four("VARNEX_PORT_4", "/nonexistent/varnex-4");
    auto port = MakeSerialPort();
    port->setPortNumber(4);
    EXPECT_FALSE(port->open());
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(TestPort(*port, 4));
    EXPECT_EQ(port->bytesWaiting(), 0);
    EXPECT_FALSE(port->write(QStringLiteral("D")));
}

TEST(QtSerialPort, PseudoTerminal_CarriesLatin1TextBothWaysWithoutEventLoop)
{
    Peer peer;
    ASSERT_FALSE(peer.path().isEmpty());
    ScopedEnv two("VARNEX_PORT_2", peer.path().toLocal8Bit());
    auto port = MakeSerialPort();

    EXPECT_TRUE(TestPort(*port, 2));
    EXPECT_FALSE(port->isOpen());

    port->setPortNumber(2);
    ASSERT_TRUE(port->open());
    EXPECT_TRUE(port->write(QStringLiteral("D")));
    EXPECT_EQ(peer.receive(1), QByteArray("D"));

    peer.send("Varnex V1.0h\xE9\r\n");
    EXPECT_EQ(waitForCharacters(*port, 15), 15);
    EXPECT_EQ(port->readAll(), QStringLiteral("Varnex V1.0h") + QChar(0xE9) + QStringLiteral("\r\n"));
    EXPECT_EQ(port->bytesWaiting(), 0);

    peer.send("stale");
    EXPECT_EQ(waitForCharacters(*port, 5), 5);
    port->discard();
    EXPECT_EQ(port->bytesWaiting(), 0);

    port->close();
    EXPECT_FALSE(port->isOpen());
    // Opening again after a close works: exchanges open and close the port every time.
    EXPECT_TRUE(port->open());
    port->close();
}

TEST(QtSerialPort, LockFileThatCannotBeWritten_DoesNotKeepThePortShut)
{
    Peer peer;
    ASSERT_FALSE(peer.path().isEmpty());
    const QString lock = lockFileFor(peer.path());
    if (!QFileInfo(QStringLiteral("/var/lock")).isWritable() || QFileInfo::exists(lock))
        GTEST_SKIP() << "no lock folder of our own to try this in";
    // A folder where the lock file should go: no lock can be written there.
    ASSERT_TRUE(QDir().mkpath(lock));
    ScopedEnv five("VARNEX_PORT_5", peer.path().toLocal8Bit());
    auto port = MakeSerialPort();
    port->setPortNumber(5);

    const bool opened = port->open();
    if (opened) {
        peer.send("EOD\r");
        EXPECT_EQ(waitForCharacters(*port, 4), 4);
        EXPECT_EQ(port->readAll(), QStringLiteral("EOD\r"));
        EXPECT_TRUE(port->write(QStringLiteral("b")));
        EXPECT_EQ(peer.receive(1), QByteArray("b"));
        port->close();
    }
    EXPECT_TRUE(TestPort(*port, 5));
    QDir().rmdir(lock);
    EXPECT_TRUE(opened);
}
