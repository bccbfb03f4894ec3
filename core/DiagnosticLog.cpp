#include "core/DiagnosticLog.h"

#include "core/Logging.h"
#include "core/Program.h"
#include "link/Clock.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace clarow {

namespace {
// "yyyy MM dd hh:mm:ss | ": continuation lines of an entry are indented by as much.
constexpr int kHeaderLength = 22;
bool g_echo = false;
} // namespace

void EchoLogToStandardError(bool on) { g_echo = on; }

QString LogFileName(const QDateTime &at)
{
    return at.toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".log");
}

QString LogLine(const QString &message, const QDateTime &at)
{
    QString line = at.toString(QStringLiteral("yyyy MM dd hh:mm:ss")) + QStringLiteral(" | ");
    const qsizetype length = message.size();
    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = message.at(i);
        if (c == QLatin1Char('\n'))
            continue;
        if (c == QLatin1Char('\r')) {
            // A line break inside the message starts an indented continuation line; breaks
            // at its very start and end are dropped so the entry has no empty lines.
            const qsizetype p = i + 1;
            if (p > 2 && p < length - 2)
                line += QStringLiteral("\r\n") + QString(kHeaderLength, QLatin1Char(' '));
            continue;
        }
        line += c;
    }
    line += QStringLiteral("\r\n");
    return line;
}

void WriteLog(const QString &message)
{
    try {
        const QDateTime at = Now();
        if (g_echo) {
            QString line = LogLine(message, at);
            line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            std::fputs(line.toLocal8Bit().constData(), stderr);
            std::fflush(stderr);
        }
        QFile file(QDir(ProgramFolder()).filePath(LogFileName(at)));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        file.write(LogLine(message, at).toUtf8());
        file.close();
    } catch (const std::exception &e) {
        // Logging must never disturb the caller; the entry is lost, and said so where the
        // program's warnings go.
        qCWarning(lcApp).noquote() << QStringLiteral("Diagnostic log entry lost: %1").arg(QString::fromUtf8(e.what()));
    }
}

} // namespace clarow
