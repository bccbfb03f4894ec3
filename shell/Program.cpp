#include "shell/Program.h"

#include <QCoreApplication>
#include <QDir>

namespace clarow {

Program &program()
{
    static Program p;
    return p;
}

void resetProgram() { program() = Program{}; }

QString ProgramFolder()
{
    const QString home = qEnvironmentVariable("CLAROW_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

QString DatabasePath() { return QDir(ProgramFolder()).filePath(QStringLiteral("clarowdata.mdb")); }

} // namespace clarow
