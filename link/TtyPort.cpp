#include "link/TtyPort.h"

#ifdef Q_OS_UNIX

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace clarow {

namespace {

// Real time, not the program's clock: this waits on the device itself.
constexpr int kWriteTimeoutMs = 2000;

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

class TtyPort final : public SerialPort
{
public:
    ~TtyPort() override { close(); }

    void setPortNumber(int number) override { m_number = number; }
    [[nodiscard]] int portNumber() const override { return m_number; }

    bool open() override
    {
        if (isOpen())
            return true;
        const int fd = ::open(QFile::encodeName(PortDeviceName(m_number)).constData(),
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

    void close() override
    {
        if (m_fd >= 0) {
            ::ioctl(m_fd, TIOCNXCL);
            ::close(m_fd);
            m_fd = -1;
        }
        m_received.clear();
    }

    [[nodiscard]] bool isOpen() const override { return m_fd >= 0; }

    void discard() override
    {
        if (m_fd < 0)
            return;
        ::tcflush(m_fd, TCIFLUSH);
        m_received.clear();
    }

    [[nodiscard]] int bytesWaiting() override
    {
        if (!isOpen())
            return 0;
        pull();
        return static_cast<int>(m_received.size());
    }

    QString readAll() override
    {
        if (!isOpen())
            return {};
        pull();
        const QByteArray bytes = m_received;
        m_received.clear();
        return QString::fromLatin1(bytes);
    }

    bool write(const QString &text) override
    {
        if (!isOpen())
            return false;
        const QByteArray bytes = text.toLatin1();
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

private:
    // Takes what the device has received into the port's buffer, up to the adapter's
    // receive buffer size.
    void pull()
    {
        char chunk[512];
        while (m_received.size() < kReceiveBufferSize) {
            const qsizetype room = kReceiveBufferSize - m_received.size();
            const ssize_t n = ::read(m_fd, chunk, std::min<qsizetype>(room, sizeof chunk));
            if (n <= 0)
                break;
            m_received.append(chunk, n);
        }
    }

    int m_fd = -1;
    QByteArray m_received;
    int m_number = kFirstPort;
};

} // namespace

std::unique_ptr<SerialPort> MakeTtyPort() { return std::make_unique<TtyPort>(); }

bool TtyLockedByLiveProcess(const QString &device)
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

QString TtyAccessGroup(const QString &device)
{
    const QFileInfo info(device);
    if (device.isEmpty() || !info.exists())
        return {};
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};
    QString group = info.group();
    if (group.isEmpty() || group == QLatin1String("root"))
        group = QStringLiteral("dialout");
    return group;
}

} // namespace clarow

#endif
