#include "link/SerialPort.h"

#include "link/Clock.h"
#include "link/Logging.h"
#include "link/NetworkPort.h"
#include "link/TtyPort.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>

#include <utility>

namespace clarow {

namespace {
PortMap &portMap()
{
    static PortMap map;
    return map;
}
} // namespace

void SetPortMap(PortMap map) { portMap() = std::move(map); }

QString PortDeviceName(int number)
{
#ifndef Q_OS_WIN
    const QByteArray variable = "VARNEX_PORT_" + QByteArray::number(number);
    if (qEnvironmentVariableIsSet(variable.constData()))
        return qEnvironmentVariable(variable.constData());
#endif
    if (const PortMap &map = portMap()) {
        const QString stored = map(number).trimmed();
        if (!stored.isEmpty())
            return stored;
    }
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyUSB%1").arg(number - 1);
#endif
}

namespace {

// The port on QSerialPort.
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
        m_onlyLockFileInTheWay = false;
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
            else
                m_onlyLockFileInTheWay = !TtyLockedByLiveProcess(device);
        }
#endif
        return false;
    }

    // The last open was refused only because the device's lock file could not be written,
    // and no running program holds that lock.
    [[nodiscard]] bool onlyLockFileInTheWay() const { return m_onlyLockFileInTheWay; }

    void close() override
    {
        if (m_port.isOpen())
            m_port.close();
    }

    [[nodiscard]] bool isOpen() const override { return m_port.isOpen(); }

    void discard() override
    {
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
        return static_cast<int>(m_port.bytesAvailable());
    }

    QString readAll() override
    {
        if (!isOpen())
            return {};
        pull();
        return QString::fromLatin1(m_port.readAll());
    }

    bool write(const QString &text) override
    {
        if (!isOpen())
            return false;
        const QByteArray bytes = text.toLatin1();
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
        for (int i = 0; i < 16 && m_port.bytesAvailable() < kReceiveBufferSize; ++i) {
            const qint64 before = m_port.bytesAvailable();
            m_port.waitForReadyRead(0);
            if (m_port.bytesAvailable() == before)
                break;
        }
        m_port.clearError();
    }

    QSerialPort m_port;
    QString m_openError;
    int m_number = kFirstPort;
    bool m_onlyLockFileInTheWay = false;
};

// The port as the program sees it. At each open the device of the selected number decides
// which port carries the exchange: a network bridge for "tcp://..."; else QSerialPort, or
// the device opened directly when QSerialPort refuses it only for a lock file that no
// running program holds. Every other call goes to the port that was chosen.
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
        if (IsNetworkDevice(PortDeviceName(m_number))) {
            if (!m_network)
                m_network = MakeNetworkPort();
            return openOn(*m_network);
        }
        if (openOn(m_serial))
            return true;
#ifdef Q_OS_UNIX
        if (m_serial.onlyLockFileInTheWay()) {
            if (!m_tty)
                m_tty = MakeTtyPort();
            m_tty->setPortNumber(m_number);
            // Should the device refuse this too, QSerialPort's reason is the one to tell.
            if (m_tty->open()) {
                m_active = m_tty.get();
                return true;
            }
        }
#endif
        return false;
    }
    void close() override
    {
        if (m_active->isOpen())
            qCDebug(lcLink, "port %d closed", m_number);
        m_active->close();
    }
    [[nodiscard]] bool isOpen() const override { return m_active->isOpen(); }
    void discard() override { m_active->discard(); }
    [[nodiscard]] int bytesWaiting() override { return m_active->bytesWaiting(); }
    QString readAll() override
    {
        const QString text = m_active->readAll();
        if (!text.isEmpty())
            qCDebug(lcLink, "port %d received %s", m_number, qUtf8Printable(text));
        return text;
    }
    bool write(const QString &text) override
    {
        qCDebug(lcLink, "port %d sends %s", m_number, qUtf8Printable(text));
        return m_active->write(text);
    }
    [[nodiscard]] QString errorText() const override { return m_active->errorText(); }

private:
    bool openOn(SerialPort &port)
    {
        m_active = &port;
        port.setPortNumber(m_number);
        const bool opened = port.open();
        qCDebug(lcLink, "port %d (%s) %s %s", m_number, qUtf8Printable(PortDeviceName(m_number)),
                opened ? "opened" : "not opened:", opened ? "" : qUtf8Printable(port.errorText()));
        return opened;
    }

    QtSerialPort m_serial;
    std::unique_ptr<SerialPort> m_network;
    std::unique_ptr<SerialPort> m_tty;
    SerialPort *m_active = &m_serial;
    int m_number = kFirstPort;
};

} // namespace

QString PortAccessProblem(int number)
{
#ifdef Q_OS_UNIX
    const QString device = PortDeviceName(number);
    const QString group = TtyAccessGroup(device);
    if (group.isEmpty())
        return {};
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
