#include "link/SerialPort.h"

#include "link/Clock.h"
#include "link/NetworkPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSettings>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace clarow {

QString PortDeviceName(int number)
{
#ifndef Q_OS_WIN
    const QByteArray variable = "VARNEX_PORT_" + QByteArray::number(number);
    if (qEnvironmentVariableIsSet(variable.constData()))
        return qEnvironmentVariable(variable.constData());
#endif
    const QString stored = StoredPortDevice(number);
    if (!stored.isEmpty())
        return stored;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyUSB%1").arg(number - 1);
#endif
}

QString StoredPortDevice(int number)
{
    // Read straight from the store, so that retyper, which shares nothing else of clarow's
    // settings, sees the same ports.
    const QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    return store.value(QStringLiteral("Ports/%1").arg(number)).toString().trimmed();
}

namespace {

#ifdef Q_OS_UNIX
// The folders where serial programs leave their "LCK.." files, in the order they are looked
// for.
const QStringList &lockFolders()
{
    static const QStringList folders = {
        QStringLiteral("/var/lock"),     QStringLiteral("/etc/locks"),
        QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
        QStringLiteral("/tmp"),          QStringLiteral("/var/tmp"),
        QStringLiteral("/var/lock/lockdev"), QStringLiteral("/run/lock"),
        QDir::tempPath()};
    return folders;
}

// True when a lock file of the device names a process that is still running: then another
// program really uses the port. A lock file that cannot be read or names a dead process
// says nothing.
bool lockedByLiveProcess(const QString &device)
{
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const QString &folder : lockFolders()) {
        QFile lock(folder + QStringLiteral("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = lock.read(64);
        bool ok = false;
        const qint64 pid = content.split('\n').value(0).trimmed().toLongLong(&ok);
        if (!ok || pid <= 0 || pid == ::getpid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)
            return true;
    }
    return false;
}
#endif

// The real port. QSerialPort does the work; when it refuses a device only because the lock
// file beside it cannot be written (a stale lock of another user, a read-only lock folder),
// the device is opened directly instead, so that such a file does not keep the adapter away.
class QtSerialPort final : public SerialPort
{
public:
    ~QtSerialPort() override { close(); }

    void setPortNumber(int number) override { m_number = number; }
    [[nodiscard]] int portNumber() const override { return m_number; }

    bool open() override
    {
        if (isOpen())
            return true;
        const QString device = PortDeviceName(m_number);
        m_openError = QStringLiteral("Port %1 does not exist (%2).").arg(m_number).arg(device);
        if (device.isEmpty())
            return false;
#ifdef Q_OS_UNIX
        // A named device that is not there is an absent port; never fall back to another.
        if (!QFileInfo::exists(device))
            return false;
#endif
        m_port.setPortName(device);
        m_port.setBaudRate(kBaudRate);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        m_port.setReadBufferSize(kReceiveBufferSize);
        if (m_port.open(QIODevice::ReadWrite)) {
            // A pseudo-terminal has no modem lines; failing to raise them is harmless.
            m_port.setDataTerminalReady(true);
            m_port.setRequestToSend(true);
            m_port.clearError();
            return true;
        }
        m_openError = m_port.errorString();
#ifdef Q_OS_UNIX
        if (m_port.error() == QSerialPort::PermissionError) {
            const QString denied = PortAccessProblem(m_number);
            if (!denied.isEmpty())
                m_openError = denied;
            else if (!lockedByLiveProcess(device))
                return openDirect(device);
        }
#endif
        return false;
    }

    void close() override
    {
        if (m_port.isOpen())
            m_port.close();
#ifdef Q_OS_UNIX
        if (m_fd >= 0) {
            ::ioctl(m_fd, TIOCNXCL);
            ::close(m_fd);
            m_fd = -1;
        }
        m_received.clear();
#endif
    }

    [[nodiscard]] bool isOpen() const override
    {
#ifdef Q_OS_UNIX
        if (m_fd >= 0)
            return true;
#endif
        return m_port.isOpen();
    }

    void discard() override
    {
#ifdef Q_OS_UNIX
        if (m_fd >= 0) {
            ::tcflush(m_fd, TCIFLUSH);
            m_received.clear();
            return;
        }
#endif
        if (!m_port.isOpen())
            return;
        m_port.clear(QSerialPort::Input);
        m_port.clearError();
    }

    [[nodiscard]] int bytesWaiting() override
    {
        if (!isOpen())
            return 0;
        pull();
#ifdef Q_OS_UNIX
        if (m_fd >= 0)
            return static_cast<int>(m_received.size());
#endif
        return static_cast<int>(m_port.bytesAvailable());
    }

    QString readAll() override
    {
        if (!isOpen())
            return {};
        pull();
#ifdef Q_OS_UNIX
        if (m_fd >= 0) {
            const QByteArray bytes = m_received;
            m_received.clear();
            return QString::fromLatin1(bytes);
        }
#endif
        return QString::fromLatin1(m_port.readAll());
    }

    bool write(const QString &text) override
    {
        if (!isOpen())
            return false;
        const QByteArray bytes = text.toLatin1();
#ifdef Q_OS_UNIX
        if (m_fd >= 0)
            return writeDirect(bytes);
#endif
        if (m_port.write(bytes) != bytes.size())
            return false;
        // Hand the characters to the device now rather than at the next turn of the event
        // loop, so that a command leaves before the wait for its reply begins.
        m_port.flush();
        // Real time, not the program's clock: this waits on the device itself.
        QElapsedTimer started;
        started.start();
        while (m_port.bytesToWrite() > 0 && started.elapsed() < kWriteTimeoutMs) {
            if (!m_port.waitForBytesWritten(kWriteTimeoutMs))
                break;
        }
        m_port.clearError();
        return m_port.bytesToWrite() == 0;
    }

    [[nodiscard]] QString errorText() const override { return m_openError; }

private:
    static constexpr int kWriteTimeoutMs = 2000;

    // Takes what the device has received into the port's buffer, whether or not an event
    // loop has run since it arrived.
    void pull()
    {
#ifdef Q_OS_UNIX
        if (m_fd >= 0) {
            char chunk[512];
            while (m_received.size() < kReceiveBufferSize) {
                const qsizetype room = kReceiveBufferSize - m_received.size();
                const ssize_t n = ::read(m_fd, chunk, std::min<qsizetype>(room, sizeof chunk));
                if (n <= 0)
                    break;
                m_received.append(chunk, n);
            }
            return;
        }
#endif
        for (int i = 0; i < 16 && m_port.bytesAvailable() < kReceiveBufferSize; ++i) {
            const qint64 before = m_port.bytesAvailable();
            m_port.waitForReadyRead(0);
            if (m_port.bytesAvailable() == before)
                break;
        }
        m_port.clearError();
    }

#ifdef Q_OS_UNIX
    bool openDirect(const QString &device)
    {
        const int fd = ::open(QFile::encodeName(device).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        termios tio {};
        if (::tcgetattr(fd, &tio) != 0) {
            ::close(fd);
            return false;
        }
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
            ::close(fd);
            return false;
        }
        // Same as QSerialPort: keep other programs off the line while it is ours.
        ::ioctl(fd, TIOCEXCL);
        int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(fd, TIOCMBIS, &lines); // fails on a pseudo-terminal; harmless
        m_fd = fd;
        m_received.clear();
        return true;
    }

    bool writeDirect(const QByteArray &bytes)
    {
        qsizetype done = 0;
        QElapsedTimer started;
        started.start();
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done,
                                      static_cast<size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (started.elapsed() > kWriteTimeoutMs)
                return false;
            pollfd p {m_fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        return true;
    }

    int m_fd = -1;
    QByteArray m_received;
#endif

    QSerialPort m_port;
    QString m_openError;
    int m_number = kFirstPort;
};

// The port as the program sees it: the device of the selected number, looked up at each
// open, decides whether the serial line or a network bridge carries the exchange.
class DevicePort final : public SerialPort
{
public:
    void setPortNumber(int number) override
    {
        m_number = number;
        m_active->setPortNumber(number);
    }
    [[nodiscard]] int portNumber() const override { return m_number; }

    bool open() override
    {
        if (m_active->isOpen())
            return true;
        const bool network = IsNetworkDevice(PortDeviceName(m_number));
        if (network && !m_network)
            m_network = MakeNetworkPort();
        m_active = network ? m_network.get() : &m_serial;
        m_active->setPortNumber(m_number);
        return m_active->open();
    }
    void close() override { m_active->close(); }
    [[nodiscard]] bool isOpen() const override { return m_active->isOpen(); }
    void discard() override { m_active->discard(); }
    [[nodiscard]] int bytesWaiting() override { return m_active->bytesWaiting(); }
    QString readAll() override { return m_active->readAll(); }
    bool write(const QString &text) override { return m_active->write(text); }
    [[nodiscard]] QString errorText() const override { return m_active->errorText(); }

private:
    QtSerialPort m_serial;
    std::unique_ptr<SerialPort> m_network;
    SerialPort *m_active = &m_serial;
    int m_number = kFirstPort;
};

} // namespace

QString PortAccessProblem(int number)
{
#ifdef Q_OS_UNIX
    const QString device = PortDeviceName(number);
    const QFileInfo info(device);
    if (device.isEmpty() || !info.exists())
        return {};
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};
    QString group = info.group();
    if (group.isEmpty() || group == QLatin1String("root"))
        group = QStringLiteral("dialout");
    return QStringLiteral("Port %1 (%2) is there, but this user may not open it. Serial devices "
                          "may be opened by the members of the group %3: add the user to it "
                          "(sudo adduser $USER %3), then log out and in again.")
        .arg(number)
        .arg(device, group);
#else
    Q_UNUSED(number);
    return {};
#endif
}

std::unique_ptr<SerialPort> MakeSerialPort() { return std::make_unique<DevicePort>(); }

bool TestPort(SerialPort &port, int number)
{
    if (port.isOpen())
        port.close();
    Pause(0);
    port.setPortNumber(number);
    Pause(0);
    if (!port.isOpen()) {
        if (!port.open())
            return false;
    }
    Pause(0);
    if (port.isOpen())
        port.close();
    return !port.isOpen();
}

} // namespace clarow
