#include "SmtpServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace clarow::test {

QString ReceivedMail::header(const QString &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

int ReceivedMail::headerCount(const QString &name) const
{
    int n = 0;
    for (const auto &h : headers)
        n += h.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
    return n;
}

SmtpServer::SmtpServer(const QString &user, const QString &password) : SmtpServer(Tls::None, user, password) {}

SmtpServer::SmtpServer(Tls tls, const QString &user, const QString &password)
    : m_tls(tls), m_user(user), m_password(password)
{
    start();
}

QString SmtpServer::caFile() const { return QDir(m_dir.path()).filePath(QStringLiteral("tls/ca.pem")); }

SmtpServer::~SmtpServer() { stop(); }

bool SmtpServer::start()
{
    if (m_process.state() != QProcess::NotRunning)
        return running();
    QStringList args{QStringLiteral(CLAROW_SOURCE_DIR "/tests/support/smtp_server.py"),
                     QStringLiteral("--out"), m_dir.path(), QStringLiteral("--port"), QString::number(m_port)};
    if (!m_user.isEmpty())
        args << QStringLiteral("--user") << m_user << QStringLiteral("--password") << m_password;
    if (m_tls != Tls::None)
        args << QStringLiteral("--tls")
             << (m_tls == Tls::StartTls ? QStringLiteral("starttls") : QStringLiteral("implicit"));
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral("/usr/bin/python3"), args);
    if (!m_process.waitForStarted(10000))
        return false;
    // The first line is the port it listens on; a restart on the same port may have to wait
    // for the old socket to go.
    const QDeadlineTimer deadline(20000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(200);
        out += m_process.readAllStandardOutput();
    }
    const int port = out.trimmed().toInt();
    if (port > 0)
        m_port = port;
    return port > 0;
}

void SmtpServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void SmtpServer::setFault(const QString &fault)
{
    const QString path = QDir(m_dir.path()).filePath(QStringLiteral("fault"));
    if (fault.isEmpty()) {
        QFile::remove(path);
        return;
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(fault.toUtf8());
}

QList<ReceivedMail> SmtpServer::mails() const
{
    QList<ReceivedMail> result;
    const QDir dir(m_dir.path());
    const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
        ReceivedMail m;
        m.mailFrom = o.value(QStringLiteral("mail_from")).toString();
        for (const auto &r : o.value(QStringLiteral("rcpt_tos")).toArray())
            m.recipients << r.toString();
        m.authenticated = o.value(QStringLiteral("authenticated")).toBool();
        m.tls = o.value(QStringLiteral("tls")).toBool();
        m.subject = o.value(QStringLiteral("subject")).toString();
        m.body = o.value(QStringLiteral("body")).toString();
        m.raw = o.value(QStringLiteral("raw")).toString();
        for (const auto &h : o.value(QStringLiteral("headers")).toArray()) {
            const QJsonArray pair = h.toArray();
            m.headers.append({pair.at(0).toString(), pair.at(1).toString()});
        }
        result << m;
    }
    return result;
}

QString SmtpServer::errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

} // namespace clarow::test
