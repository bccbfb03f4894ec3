#include "shell/Program.h"

#include <QCoreApplication>
#include <QDir>

#include <cmath>

namespace clarow {

Program &program()
{
    static Program p;
    return p;
}

void resetProgram() { program() = Program{}; }

double TwipsPerPixelX() { return program().twipsPerPixelX > 0 ? program().twipsPerPixelX : 15.0; }

double TwipsPerPixelY() { return program().twipsPerPixelY > 0 ? program().twipsPerPixelY : 15.0; }

int TwipsToPixelsX(double twips) { return static_cast<int>(std::lround(twips / TwipsPerPixelX())); }

int TwipsToPixelsY(double twips) { return static_cast<int>(std::lround(twips / TwipsPerPixelY())); }

void RecordPixelsX(qint32 &twips, int px)
{
    if (TwipsToPixelsX(twips) != px)
        twips = static_cast<qint32>(std::lround(px * TwipsPerPixelX()));
}

void RecordPixelsY(qint32 &twips, int px)
{
    if (TwipsToPixelsY(twips) != px)
        twips = static_cast<qint32>(std::lround(px * TwipsPerPixelY()));
}

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
