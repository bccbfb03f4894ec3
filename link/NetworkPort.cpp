#include "link/NetworkPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QUrl>

namespace clarow {

bool IsNetworkDevice(const QString &device)
{
    return device.startsWith(QLatin1String(kNetworkScheme), Qt::CaseInsensitive);
}

std::optional<NetworkAddress> ParseNetworkDevice(const QString &device)
{
    if (!IsNetworkDevice(device))
        return std::nullopt;
    const QUrl url(device.trimmed(), QUrl::StrictMode);
    // Only a host and a port: a path, a user or a query would be silently ignored otherwise.
    if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 || !url.userInfo().isEmpty()
        || !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery()
        || url.hasFragment())
        return std::nullopt;
    return NetworkAddress {url.host(), static_cast<quint16>(url.port())};
}

namespace {

// Real time, not the program's clock: these wait on the network itself.
constexpr int kConnectTimeoutMs = 3000;
constexpr int kWriteTimeoutMs = 2000;
constexpr int kStepMs = 50;

class TcpSerialPort final : public SerialPort
{
public:
    TcpSerialPort() { m_socket.setReadBufferSize(kReceiveBufferSize); }
    ~TcpSerialPort() override { close(); }

    void setPortNumber(int number) override { m_number = number; }
    [[nodiscard]] int portNumber() const override { return m_number; }

    bool open() override
    {
        if (m_open)
            return true;
        const QString device = PortDeviceName(m_number);
        m_openError = QStringLiteral("Port %1 does not exist (%2).").arg(m_number).arg(device);
        const std::optional<NetworkAddress> address = ParseNetworkDevice(device);
        if (!address)
            return false;
        m_socket.abort();
        m_socket.connectToHost(address->host, address->port);
        // The windows keep repainting while a distant bridge is slow to answer.
        QElapsedTimer started;
        started.start();
        while (m_socket.state() != QAbstractSocket::ConnectedState
               && m_socket.state() != QAbstractSocket::UnconnectedState
               && started.elapsed() < kConnectTimeoutMs) {
            m_socket.waitForConnected(kStepMs);
            if (QCoreApplication::instance())
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        if (m_socket.state() != QAbstractSocket::ConnectedState) {
            if (m_socket.error() != QAbstractSocket::UnknownSocketError)
                m_openError += QLatin1Char(' ') + m_socket.errorString();
            m_socket.abort();
            return false;
        }
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_open = true;
        return true;
    }

    void close() override
    {
        if (m_socket.state() == QAbstractSocket::ConnectedState) {
            m_socket.disconnectFromHost();
            if (m_socket.state() != QAbstractSocket::UnconnectedState)
                m_socket.waitForDisconnected(kStepMs);
        }
        m_socket.abort();
        m_open = false;
    }

    [[nodiscard]] bool isOpen() const override { return m_open; }

    void discard() override
    {
        if (!m_open)
            return;
        pull();
        m_socket.readAll();
    }

    [[nodiscard]] int bytesWaiting() override
    {
        if (!m_open)
            return 0;
        pull();
        return static_cast<int>(m_socket.bytesAvailable());
    }

    QString readAll() override
    {
        if (!m_open)
            return {};
        pull();
        return QString::fromLatin1(m_socket.readAll());
    }

    bool write(const QString &text) override
    {
        if (!m_open || m_socket.state() != QAbstractSocket::ConnectedState)
            return false;
        const QByteArray bytes = text.toLatin1();
        if (m_socket.write(bytes) != bytes.size())
            return false;
        QElapsedTimer started;
        started.start();
        while (m_socket.bytesToWrite() > 0 && started.elapsed() < kWriteTimeoutMs) {
            if (!m_socket.waitForBytesWritten(kStepMs)
                && m_socket.state() != QAbstractSocket::ConnectedState)
                break;
        }
        return m_socket.bytesToWrite() == 0;
    }

    [[nodiscard]] QString errorText() const override { return m_openError; }

private:
    // Takes what has arrived into the socket's buffer, whether or not an event loop has run
    // since. A dropped connection keeps what it delivered and then stays silent.
    void pull()
    {
        for (int i = 0; i < 16 && m_socket.state() == QAbstractSocket::ConnectedState
                        && m_socket.bytesAvailable() < kReceiveBufferSize;
             ++i) {
            const qint64 before = m_socket.bytesAvailable();
            m_socket.waitForReadyRead(0);
            if (m_socket.bytesAvailable() == before)
                break;
        }
    }

    QTcpSocket m_socket;
    QString m_openError;
    int m_number = kFirstPort;
    bool m_open = false;
};

} // namespace

std::unique_ptr<SerialPort> MakeNetworkPort() { return std::make_unique<TcpSerialPort>(); }

} // namespace clarow
