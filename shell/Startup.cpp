#include "shell/Startup.h"

#include "shell/FindVarnex.h"
#include "shell/Program.h"
#include "shell/Settings.h"

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

int FindAdapterAtStartup(SerialPort &port, const std::function<void(int)> &trying)
{
    int result = FindVarnex(port, false, trying);
    if (result == 0)
        result = FindVarnex(port, false, trying);
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
    if (m_lock->tryLock(0))
        return true;
    // A folder we may not write to cannot hold a lock file; that must not keep the program
    // from running.
    return m_lock->error() == QLockFile::PermissionError;
}

} // namespace clarow
