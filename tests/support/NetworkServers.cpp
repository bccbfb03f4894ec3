#include "NetworkServers.h"

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

namespace clarow::test {

quint16 FreeTcpPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

HttpReply HttpRequest(quint16 port, const QByteArray &path, const QByteArray &method)
{
    HttpReply reply;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return reply;
    socket.write(method + ' ' + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
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
    return reply;
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
