#include "TestHome.h"

#include "core/Database.h"
#include "core/Program.h"

#include <QDir>
#include <QFile>
#include <QSettings>

namespace clarow::test {

TestHome::TestHome(bool withDatabase)
{
    m_oldHome = qgetenv("CLAROW_HOME");
    qputenv("CLAROW_HOME", m_dir.path().toLocal8Bit());
    if (withDatabase)
        QFile::copy(QStringLiteral(CLAROW_EMPTY_DB), databasePath());
    QFile::setPermissions(databasePath(), QFile::ReadOwner | QFile::WriteOwner);
    ClearSettingsStore();
    resetProgram();
}

TestHome::~TestHome()
{
    CloseConnection();
    resetProgram();
    if (m_oldHome.isNull())
        qunsetenv("CLAROW_HOME");
    else
        qputenv("CLAROW_HOME", m_oldHome);
}

QString TestHome::file(const QString &name) const { return QDir(m_dir.path()).filePath(name); }

QString TestHome::readFile(const QString &name) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

void ClearSettingsStore()
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    s.clear();
    s.sync();
}

QString SettingsFilePath()
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    return s.fileName();
}

} // namespace clarow::test
