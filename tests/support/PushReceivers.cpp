#include "PushReceivers.h"

#include "NetworkServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QThread>

namespace clarow::test {

WebhookSink::WebhookSink()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(CLAROW_SOURCE_DIR "/tests/support/webhook_sink.py"), QStringLiteral("--out"),
                     QDir(m_dir.path()).filePath(QStringLiteral("requests.jsonl"))});
    if (!m_process.waitForStarted(10000))
        return;
    QByteArray out;
    const QDeadlineTimer deadline(20000);
    while (!out.contains('\n') && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(200);
        out += m_process.readAllStandardOutput();
    }
    m_port = out.trimmed().toInt();
}

WebhookSink::~WebhookSink() { StopProcess(m_process); }

QString WebhookSink::url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path); }

void WebhookSink::failWith(int status)
{
    const QString path = QDir(m_dir.path()).filePath(QStringLiteral("fail"));
    if (status == 0) {
        QFile::remove(path);
        return;
    }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(QByteArray::number(status));
}

QList<QJsonObject> WebhookSink::requests() const
{
    QFile f(QDir(m_dir.path()).filePath(QStringLiteral("requests.jsonl")));
    QList<QJsonObject> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            out << QJsonDocument::fromJson(line).object();
    }
    return out;
}

MqttBroker::MqttBroker() : m_port(FreeTcpPort()) { start(); }

MqttBroker::~MqttBroker() { stop(); }

bool MqttBroker::start()
{
    if (m_process.state() != QProcess::NotRunning)
        return true;
    const QString config = QDir(m_dir.path()).filePath(QStringLiteral("mosquitto.conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(m_port).toUtf8());
    f.close();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(QDir(m_dir.path()).filePath(QStringLiteral("mosquitto.log")), QIODevice::Append);
    m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config});
    if (!m_process.waitForStarted(10000))
        return false;
    return WaitUntil(
        [&] {
            QTcpSocket s;
            s.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(m_port));
            return s.waitForConnected(200);
        },
        10000);
}

void MqttBroker::stop() { StopProcess(m_process); }

QMap<QString, QByteArray> MqttBroker::retained(const QString &filter) const
{
    // Retained messages arrive at once on subscribing; a second with nothing new ends the read.
    const ToolRun run = RunTool(QStringLiteral("mosquitto_sub"),
                                {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                 QString::number(m_port), QStringLiteral("-t"), filter, QStringLiteral("--retained-only"),
                                 QStringLiteral("-W"), QStringLiteral("1"), QStringLiteral("-F"), QStringLiteral("%t\t%p")});
    QMap<QString, QByteArray> out;
    for (const QByteArray &line : run.output.split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab > 0)
            out.insert(QString::fromUtf8(line.left(tab)), line.mid(tab + 1));
    }
    return out;
}

} // namespace clarow::test
