#include "core/Program.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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

namespace {
constexpr const char *kDatabaseFile = "clarowdata.mdb";

QString executableFolder()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
}

// The user's data folder of an installed program (~/.local/share/clarow).
QString userDataFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return folder.isEmpty() ? QDir::home().filePath(QStringLiteral(".clarow")) : folder;
}

bool usesUserDataFolder()
{
    return qEnvironmentVariableIsEmpty("CLAROW_HOME")
        && !QFileInfo::exists(QDir(executableFolder()).filePath(QLatin1String(kDatabaseFile)));
}
} // namespace

QString ProgramFolder()
{
    const QString home = qEnvironmentVariable("CLAROW_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    if (!usesUserDataFolder())
        return executableFolder();
    return QDir::cleanPath(userDataFolder());
}

QString SharedFilesFolder()
{
    return QDir::cleanPath(executableFolder() + QStringLiteral("/../share/clarow"));
}

QString PrepareProgramFolder()
{
    if (!usesUserDataFolder())
        return {};
    const QString folder = ProgramFolder();
    const QString database = QDir(folder).filePath(QLatin1String(kDatabaseFile));
    if (QFileInfo::exists(database))
        return {};
    if (!QDir().mkpath(folder))
        return QStringLiteral("The data folder %1 cannot be created.").arg(folder);
    const QString empty = QDir(SharedFilesFolder()).filePath(QLatin1String(kDatabaseFile));
    // Copied under another name first, so that a copy cut short is never taken for the database.
    const QString part = database + QStringLiteral(".new");
    QFile::remove(part);
    if (!QFile::copy(empty, part))
        return QStringLiteral("The empty database %1 cannot be copied to %2.").arg(empty, folder);
    QFile::setPermissions(part, QFile::ReadOwner | QFile::WriteOwner);
    if (!QFile::rename(part, database)) {
        QFile::remove(part);
        return QStringLiteral("The database %1 cannot be created.").arg(database);
    }
    return {};
}

QString ManualPath()
{
    const QString name = QStringLiteral("ClarowManual.pdf");
    for (const QString &folder : {ProgramFolder(), executableFolder(), SharedFilesFolder()}) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path))
            return path;
    }
    return QDir(ProgramFolder()).filePath(name);
}

QString DatabasePath() { return QDir(ProgramFolder()).filePath(QLatin1String(kDatabaseFile)); }

} // namespace clarow
