#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

namespace clarow::test {

namespace {

QByteArray PortVariable(int port)
{
    return "VARNEX_PORT_" + QByteArray::number(port);
}

std::optional<QByteArray> ReadVariable(const QByteArray &name)
{
    if (!qEnvironmentVariableIsSet(name.constData()))
        return std::nullopt;
    return qgetenv(name.constData());
}

void RestoreVariable(const QByteArray &name, const std::optional<QByteArray> &value)
{
    if (value)
        qputenv(name.constData(), *value);
    else
        qunsetenv(name.constData());
}

// A file name of our own in the temporary folder, left in place for the simulator.
QString TemporaryFile(const QString &pattern, const QByteArray &content)
{
    QTemporaryFile file(QDir::temp().filePath(pattern));
    file.setAutoRemove(false);
    if (!file.open())
        return {};
    file.write(content);
    return file.fileName();
}

} // namespace

SimProcess::SimProcess(const QString &scenario, const QStringList &extraArgs)
{
    QStringList args;
    if (!scenario.isEmpty()) {
        m_scenarioFile = TemporaryFile(QStringLiteral("varnex-scenario-XXXXXX.txt"), scenario.toUtf8());
        args << QStringLiteral("--scenario") << m_scenarioFile;
    }
    args << extraArgs;
    // The simulator's log goes to a file: a pipe that nobody empties could stall it.
    m_logFile = TemporaryFile(QStringLiteral("varnex-sim-XXXXXX.log"), {});
    m_process.setStandardErrorFile(m_logFile);
    m_process.start(QStringLiteral(CLAROW_BIN_DIR) + QStringLiteral("/varnex-sim"), args);
    if (!m_process.waitForStarted(10000))
        return;

    QByteArray out;
    const QDeadlineTimer deadline(20000);
    while (!out.contains('\n') && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
            break;
        out += m_process.readAllStandardOutput();
    }
    if (out.contains('\n'))
        m_path = QString::fromLocal8Bit(out.left(out.indexOf('\n')).trimmed());
}

SimProcess::~SimProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    for (qsizetype i = m_ports.size() - 1; i >= 0; --i)
        RestoreVariable(PortVariable(m_ports[i]), m_savedPorts[i]);
    if (!m_scenarioFile.isEmpty())
        QFile::remove(m_scenarioFile);
    if (!m_logFile.isEmpty())
        QFile::remove(m_logFile);
}

void SimProcess::attachAsPort(int port, const QString &device)
{
    const QByteArray name = PortVariable(port);
    m_ports.append(port);
    m_savedPorts.append(ReadVariable(name));
    qputenv(name.constData(), (device.isEmpty() ? m_path : device).toLocal8Bit());
}

QString SimProcess::log()
{
    QFile file(m_logFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll());
}

NoRealPorts::NoRealPorts()
{
    for (int port = 1; port <= 16; ++port) {
        const QByteArray name = PortVariable(port);
        m_saved.append(ReadVariable(name));
        qputenv(name.constData(), "/nonexistent/varnex-port-" + QByteArray::number(port));
    }
}

NoRealPorts::~NoRealPorts()
{
    for (int port = 1; port <= 16; ++port)
        RestoreVariable(PortVariable(port), m_saved[port - 1]);
}

} // namespace clarow::test
