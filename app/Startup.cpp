#include "app/Startup.h"

#include "core/Database.h"
#include "core/Errors.h"
#include "core/FindVarnex.h"
#include "core/Logging.h"
#include "core/Program.h"
#include "core/Settings.h"

#include <QDir>
#include <QLockFile>

namespace clarow {

void ApplyMdiFallbacks(Settings &s)
{
    if (s.MdiLeft == 0)
        s.MdiLeft = 200;
    if (s.MdiTop == 0)
        s.MdiTop = 200;
    if (s.MdiWidth == 0)
        s.MdiWidth = kFallbackMdiWidth;
    if (s.MdiHeight == 0)
        s.MdiHeight = kFallbackMdiHeight;
}

QString StartupErrorText(int context, int number, const QString &description)
{
    return QStringLiteral("Error ") + QString::number(context) + QLatin1Char('\r')
        + QString::number(number) + QLatin1Char('\r') + description;
}

void LoadSettingsAndDatabase()
{
    LoadOptions();
    const QString problem = PrepareProgramFolder();
    if (!problem.isEmpty())
        throw ClarowError(kErrFileNotFound, problem);
    OpenDatabase();
    qCDebug(lcApp, "settings loaded, database open");
}

QString StartupFailureText(const std::exception &e)
{
    if (const auto *error = dynamic_cast<const ClarowError *>(&e))
        return StartupErrorText(program().errorContext, error->number(), error->description());
    return StartupErrorText(program().errorContext, kErrDatabase, QString::fromLocal8Bit(e.what()));
}

int FindAdapterAtStartup(SerialPort &port, const std::function<void(int)> &trying)
{
    int result = FindVarnex(port, false, trying);
    if (result == 0)
        result = FindVarnex(port, false, trying);
    qCDebug(lcApp, "adapter search: %d", result);
    return result;
}

InstanceLock::InstanceLock()
    : m_lock(std::make_unique<QLockFile>(QDir(ProgramFolder()).filePath(QStringLiteral("clarow.lock"))))
{
    m_lock->setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::acquire()
{
    // An installed program's data folder does not exist before its first start.
    QDir().mkpath(ProgramFolder());
    if (m_lock->tryLock(0))
        return true;
    // A folder we may not write to cannot hold a lock file; that must not keep the program
    // from running.
    return m_lock->error() == QLockFile::PermissionError;
}

} // namespace clarow
