#include "NetworkServers.h"

#include <chrono>
#include <future>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace clarow::test {

quint16 FreeTcpPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

HttpReply HttpRequestRunningEvents(quint16 port, const QByteArray &path, const QByteArray &method,
                                   const QByteArray &extraHead)
{
    auto reply = std::async(std::launch::async, [=] { return HttpRequest(port, path, method, extraHead); });
    while (reply.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return reply.get();
}

QByteArray HttpReply::header(const QByteArray &name) const
{
    const QByteArray wanted = name.toLower() + ':';
    for (const QByteArray &line : head.split('\n')) {
        if (line.toLower().startsWith(wanted))
            return line.mid(wanted.size()).trimmed();
    }
    return {};
}

HttpReply HttpRequest(quint16 port, const QByteArray &path, const QByteArray &method, const QByteArray &extraHead)
{
    HttpReply reply;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return reply;
    socket.write(method + ' ' + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHead + "\r\n");
    QByteArray data;
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(100);
        data += socket.readAll();
        // Qt's server keeps the connection; a complete body ends the wait as well.
        const qsizetype head = data.indexOf("\r\n\r\n");
        if (head >= 0) {
            const QByteArray header = data.left(head).toLower();
            const qsizetype at = header.indexOf("content-length:");
            if (at >= 0) {
                const qsizetype eol = header.indexOf('\r', at);
                const int length = header.mid(at + 15, eol < 0 ? -1 : eol - at - 15).trimmed().toInt();
                if (data.size() - head - 4 >= length)
                    break;
            }
        }
    }
    data += socket.readAll();
    const qsizetype head = data.indexOf("\r\n\r\n");
    const QList<QByteArray> statusLine = data.left(data.indexOf("\r\n")).split(' ');
    reply.status = statusLine.value(1).toInt();
    reply.body = head < 0 ? QByteArray() : data.mid(head + 4);
    reply.head = head < 0 ? data : data.left(head);
    return reply;
}

TcpConnection::TcpConnection(quint16 port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

TcpConnection::~TcpConnection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

qint64 TcpConnection::send(const QByteArray &data, int ms)
{
    qint64 sent = 0;
    const QDeadlineTimer deadline(ms);
    while (m_fd >= 0 && sent < data.size() && !deadline.hasExpired()) {
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(qMin<qint64>(deadline.remainingTime(), 100))) <= 0)
            continue;
        const ssize_t n = ::send(m_fd, data.constData() + sent, static_cast<size_t>(data.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        sent += n;
    }
    return sent;
}

bool TcpConnection::closedByPeer(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (m_fd >= 0 && !m_closed) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(qMin<qint64>(deadline.remainingTime(), 100)));
        if (ready > 0) {
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                m_received.append(buffer, n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                m_closed = true;
        } else if (deadline.hasExpired()) {
            break;
        }
    }
    return m_fd < 0 || m_closed;
}

QByteArray TcpConnection::readAll(int ms)
{
    (void)closedByPeer(ms);
    return m_received;
}

int HttpStatus(const QByteArray &reply)
{
    if (!reply.startsWith("HTTP/"))
        return 0;
    return reply.left(reply.indexOf("\r\n")).split(' ').value(1).toInt();
}

qint64 ResidentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

QMap<QString, QString> ExpositionSamples(const QByteArray &text)
{
    QMap<QString, QString> out;
    for (const QString &line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype blank = line.lastIndexOf(QLatin1Char(' '));
        out.insert(line.left(blank), line.mid(blank + 1));
    }
    return out;
}

ToolRun RunTool(const QString &program, const QStringList &args, const QByteArray &input)
{
    ToolRun run;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return run;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return run;
    }
    run.output = p.readAll();
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return run;
}

bool HaveProgram(const QString &program)
{
    return program.startsWith(QLatin1Char('/')) ? QFile::exists(program)
                                                : !QStandardPaths::findExecutable(program).isEmpty();
}

bool WaitUntil(const std::function<bool()> &done, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (done())
            return true;
        QCoreApplication::processEvents();
        QThread::msleep(200);
    }
    return done();
}

void StopProcess(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

namespace {
bool accepts(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    const bool ok = s.waitForConnected(500);
    s.abort();
    return ok;
}
} // namespace

Ser2Net::Ser2Net(const QString &scenario) : m_sim(scenario), m_port(FreeTcpPort())
{
    const QString device = m_sim.path();
    // The configuration the README gives, on 127.0.0.1 with this test's device and port.
    QFile example(QStringLiteral(CLAROW_SOURCE_DIR "/tools/monitoring/ser2net.yaml"));
    QFile config(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (example.open(QIODevice::ReadOnly) && config.open(QIODevice::WriteOnly)) {
        QByteArray text = example.readAll();
        text.replace("accepter: tcp,4001", "accepter: tcp,127.0.0.1," + QByteArray::number(m_port));
        text.replace("/dev/ttyUSB0", QFile::encodeName(device));
        config.write(text);
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("ser2net.log")), QIODevice::Append);
}

Ser2Net::~Ser2Net() { stop(); }

bool Ser2Net::start()
{
    if (!m_sim.started())
        return false;
    // -n: stay in the foreground; -u: no lock files for the device; -P: a pid file of its own.
    m_process.start(QStringLiteral("ser2net"),
                    {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                     m_dir.filePath(QStringLiteral("ser2net.pid")), QStringLiteral("-c"),
                     m_dir.filePath(QStringLiteral("ser2net.yaml"))});
    if (!m_process.waitForStarted(10000))
        return false;
    return WaitUntil([this] { return m_process.state() == QProcess::Running && accepts(m_port); }, 10000);
}

void Ser2Net::stop() { StopProcess(m_process); }

std::string Ser2Net::log()
{
    QFile f(m_dir.filePath(QStringLiteral("ser2net.log")));
    return (f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString()).toStdString() + "\n"
        + m_sim.log().toStdString();
}

Prometheus::Prometheus(quint16 target)
{
    QFile config(m_dir.filePath(QStringLiteral("prometheus.yml")));
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(QStringLiteral("global:\n"
                                "  scrape_interval: 1s\n"
                                "  scrape_timeout: 1s\n"
                                "scrape_configs:\n"
                                "  - job_name: clarow\n"
                                "    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1']\n")
                     .arg(target)
                     .toUtf8());
    config.close();
    m_port = FreeTcpPort();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("prometheus.log")));
    m_process.start(QStringLiteral("prometheus"),
                    {QStringLiteral("--config.file=") + config.fileName(),
                     QStringLiteral("--storage.tsdb.path=") + m_dir.filePath(QStringLiteral("data")),
                     QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port)});
    m_started = m_process.waitForStarted(10000)
        && WaitUntil([this] {
               return m_process.state() == QProcess::Running && HttpRequest(m_port, "/-/ready").status == 200;
           }, 30000);
}

Prometheus::~Prometheus() { StopProcess(m_process); }

QJsonArray Prometheus::query(const QString &promql)
{
    const HttpReply r = HttpRequest(
        m_port, "/api/v1/query?query=" + QUrl::toPercentEncoding(promql));
    if (r.status != 200)
        return {};
    return QJsonDocument::fromJson(r.body).object().value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toArray();
}

QString Prometheus::log()
{
    QFile f(m_dir.filePath(QStringLiteral("prometheus.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace clarow::test
