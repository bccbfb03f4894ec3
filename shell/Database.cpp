#include "shell/Database.h"

#include "link/SerialPort.h"
#include "shell/Errors.h"
#include "shell/Program.h"
#include "shell/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSqlError>
#include <QThread>
#include <QUrl>
#include <QDebug>

#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace clarow::testhooks {
std::function<void(int step)> compactStep;
} // namespace clarow::testhooks

namespace clarow {

namespace {

constexpr int kBusyTimeoutMs = 5000;

// The file the shared connection opened, by device and inode: a file deleted or replaced
// under a running program keeps taking writes through the open connection, and they would
// be lost without a word.
struct FileIdentity
{
    bool known = false;
    quint64 device = 0;
    quint64 inode = 0;
};
FileIdentity g_openedFile;

FileIdentity IdentityOf(const QString &path)
{
    FileIdentity id;
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        id.known = true;
        id.device = quint64(st.st_dev);
        id.inode = quint64(st.st_ino);
    }
#else
    Q_UNUSED(path); // an open file cannot be deleted or replaced there
#endif
    return id;
}

QString Bracketed(const QString &name) { return QLatin1Char('[') + name + QLatin1Char(']'); }

// Table and column names go into statement text (they cannot be bound), so only names
// that cannot leave their brackets are accepted.
bool IsPlainName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_ ]*$"));
    return re.match(name).hasMatch();
}

bool IsPlainType(const QString &type)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z][A-Za-z0-9 (),]*$"));
    return re.match(type).hasMatch();
}

void LetEventsRun()
{
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        QCoreApplication::processEvents();
}

// An SQLite URI that opens the file for reading and writing and never creates it.
QString UriFor(const QString &file)
{
    QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    url.setQuery(QStringLiteral("mode=rw"));
    return url.toString(QUrl::FullyEncoded);
}

QString FileOfConnection(const QString &databaseName)
{
    if (databaseName.startsWith(QLatin1String("file:")))
        return QUrl(databaseName).toLocalFile();
    return databaseName;
}

bool SameFile(const QString &a, const QString &b)
{
    const QFileInfo fa(a), fb(b);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return fa.absoluteFilePath() == fb.absoluteFilePath();
}

void RemoveConnection(const QString &name)
{
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QSqlDatabase OpenFile(const QString &name, const QString &file, bool walMode)
{
    if (!QFileInfo(file).isFile())
        throw ClarowError(kErrFileNotFound, QStringLiteral("Could not find file '%1'.").arg(file));
    RemoveConnection(name);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(UriFor(file));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        if (db.open()) {
            try {
                // Fails on a file that is not a database, which open() alone does not notice.
                Exec(db, QStringLiteral("PRAGMA busy_timeout = %1").arg(kBusyTimeoutMs));
                if (walMode)
                    Exec(db, QStringLiteral("PRAGMA journal_mode = WAL"));
                else
                    Exec(db, QStringLiteral("SELECT count(*) FROM sqlite_master"));
                return db;
            } catch (const ClarowError &e) {
                error = e.description();
            }
        } else {
            error = db.lastError().text();
        }
    }
    RemoveConnection(name);
    throw ClarowError(kErrDatabase, error);
}

// Runs work that blocks for a while on a thread of its own and waits for it the way Pause
// waits, so the windows keep repainting. Errors of the work reach the caller.
void RunWaiting(const std::function<void()> &work)
{
    std::exception_ptr error;
    std::atomic_bool done = false;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    });
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        LetEventsRun();
    }
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

void ReadWholeTable(const QSqlDatabase &db, const QString &table)
{
    if (!IsPlainName(table))
        throw ClarowError(kErrDatabase, QStringLiteral("Invalid table name '%1'.").arg(table));
    QSqlQuery q = Exec(db, QStringLiteral("SELECT * FROM %1").arg(Bracketed(table)));
    while (q.next()) {
    }
    if (q.lastError().isValid())
        throw ClarowError(kErrDatabase, q.lastError().text());
}

QMap<QString, qint64> RowCounts(const QSqlDatabase &db)
{
    QMap<QString, qint64> counts;
    QStringList tables;
    QSqlQuery q = Exec(db, QStringLiteral(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'"));
    while (q.next())
        tables << q.value(0).toString();
    for (const QString &t : tables) {
        QString quoted = t;
        quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
        QSqlQuery c = Exec(db, QStringLiteral("SELECT count(*) FROM \"%1\"").arg(quoted));
        counts[t] = c.next() ? c.value(0).toLongLong() : -1;
    }
    return counts;
}

void CheckIntegrity(const QSqlDatabase &db, const QString &pragma)
{
    QSqlQuery q = Exec(db, QStringLiteral("PRAGMA %1").arg(pragma));
    const QString result = q.next() ? q.value(0).toString() : QString();
    if (result != QLatin1String("ok"))
        throw ClarowError(kErrDatabase, QStringLiteral("Database check failed: %1").arg(result));
}

// The file and the engine's side files of a database that no connection holds open.
bool SideFilesGone(const QString &file)
{
    return !QFileInfo::exists(file + QLatin1String("-wal")) && !QFileInfo::exists(file + QLatin1String("-shm"))
        && !QFileInfo::exists(file + QLatin1String("-journal"));
}

void SyncToDisk(const QString &file)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(file);
#endif
}

// True when the database file opens and passes the engine's quick check. Its connection is
// gone again on return.
bool DatabaseSound(const QString &path)
{
    try {
        ScopedConnection c(QStringLiteral("clarow-check"), path, false);
        CheckIntegrity(c.db(), QStringLiteral("quick_check"));
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

// The backup name: the path with its three-letter extension replaced by ".bak", in the same
// folder. Empty when the path has no three-letter extension or no folder.
QString BackupName(const QString &path)
{
    const qsizetype n = path.size();
    auto isSeparator = [](QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); };
    if (n < 5 || path.at(n - 4) != QLatin1Char('.'))
        return {};
    for (qsizetype k = n - 3; k < n; ++k)
        if (isSeparator(path.at(k)) || path.at(k) == QLatin1Char('.'))
            return {};
    bool folder = false;
    for (qsizetype k = n - 5; k >= 0 && !folder; --k)
        folder = isSeparator(path.at(k));
    if (!folder)
        return {};
    const QString backup = path.left(n - 4) + QLatin1String(".bak");
    if (backup.compare(path, Qt::CaseInsensitive) == 0)
        return {}; // compacting the backup itself would put it in its own place
    return backup;
}

void Step(int n)
{
    if (testhooks::compactStep)
        testhooks::compactStep(n);
}

} // namespace

QSqlDatabase Db()
{
    const QString name = QLatin1String(kConnectionName);
    if (!QSqlDatabase::contains(name))
        return {};
    return QSqlDatabase::database(name, false);
}

bool DatabaseIsOpen() { return Db().isOpen(); }

QSqlQuery Exec(const QString &sql, const QVariantList &binds) { return Exec(Db(), sql, binds); }

QSqlQuery Exec(const QSqlDatabase &db, const QString &sql, const QVariantList &binds)
{
    if (!db.isOpen())
        throw ClarowError(kErrDatabase, QStringLiteral("The database is not open."));
    QSqlQuery q(db);
    if (!q.prepare(sql))
        throw ClarowError(kErrDatabase, q.lastError().text());
    for (const QVariant &v : binds)
        q.addBindValue(v);
    if (!q.exec())
        throw ClarowError(kErrDatabase, q.lastError().text());
    return q;
}

QSqlDatabase OpenPrivateConnection(const QString &name, const QString &path)
{
    return OpenFile(name, path.isEmpty() ? DatabasePath() : path, true);
}

ScopedConnection::ScopedConnection(const QString &name, const QString &path, bool walMode)
    : m_name(name), m_db(OpenFile(name, path.isEmpty() ? DatabasePath() : path, walMode))
{
}

ScopedConnection::~ScopedConnection()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

void OpenDatabase()
{
    CloseConnection();
    OpenFile(QLatin1String(kConnectionName), DatabasePath(), true);
    g_openedFile = IdentityOf(DatabasePath());
    LetEventsRun();
    EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("wStatus"), QStringLiteral("TINYINT"));
    EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("aWtDr"), QStringLiteral("TINYINT"));
    EnsureColumn(QStringLiteral("LogTbl"), QStringLiteral("lWtr"), QStringLiteral("TINYINT"));
    // The alarm a mail went out for (AlType at the time), so that the mail that ends it can
    // tell a sensor that came back from one that cooled down.
    EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("MailedAlType"), QStringLiteral("INTEGER"));
    // The push notifications' own alarm state beside the mail's, and their outbox of
    // deliveries still owed, so that a channel that is down loses nothing across a restart.
    EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("NotifySent"), QStringLiteral("INTEGER"));
    EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("NotifyConc"), QStringLiteral("INTEGER"));
    EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("NotifiedAlType"), QStringLiteral("INTEGER"));
    EnsureTable(QStringLiteral("Outbox"), QLatin1String(kOutboxTable));
    ApplyNameFallbacks(program().settings);
}

bool EnsureColumn(const QString &table, const QString &column, const QString &type)
{
    if (!DatabaseIsOpen() || !IsPlainName(table) || !IsPlainName(column))
        return false;
    try {
        Exec(QStringLiteral("SELECT %1 FROM %2 LIMIT 0").arg(Bracketed(column), Bracketed(table)));
        return true;
    } catch (const ClarowError &) {
    }
    if (!IsPlainType(type))
        return false;
    const bool flag = type.compare(QLatin1String("YesNo"), Qt::CaseInsensitive) == 0
        || type.compare(QLatin1String("BOOLEAN"), Qt::CaseInsensitive) == 0;
    try {
        Exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3%4")
                 .arg(Bracketed(table), Bracketed(column), type, flag ? QString() : QStringLiteral(" NULL")));
        return true;
    } catch (const ClarowError &) {
        return false;
    }
}

bool EnsureTable(const QString &table, const QString &createSql)
{
    if (!DatabaseIsOpen() || !IsPlainName(table))
        return false;
    try {
        Exec(QStringLiteral("SELECT 1 FROM %1 LIMIT 0").arg(Bracketed(table)));
        return true;
    } catch (const ClarowError &) {
    }
    try {
        Exec(createSql);
        return true;
    } catch (const ClarowError &) {
        return false;
    }
}

void CloseAll()
{
    try {
        SaveWindowPositions();
    } catch (const std::exception &) {
    }
    try {
        if (program().port && program().port->isOpen())
            program().port->close();
    } catch (const std::exception &) {
    }
    if (DatabaseIsOpen()) {
        QSqlDatabase db = Db();
        try {
            db.transaction();
            Exec(db,
                 QStringLiteral("UPDATE Sensors SET InAlarm = ?, AlType = ?, Connected = ?, ConcAlarms = ?, "
                                "MailSent = ?, LastR = ?"),
                 {0, 0, 0, 0, 0, 0.0});
            db.commit();
        } catch (const std::exception &) {
            db.rollback();
        }
        LetEventsRun();
    }
    CloseConnection();
}

bool DatabaseFileGone()
{
#ifdef Q_OS_UNIX
    if (!g_openedFile.known || !DatabaseIsOpen())
        return false;
    const FileIdentity now = IdentityOf(DatabasePath());
    return !now.known || now.device != g_openedFile.device || now.inode != g_openedFile.inode;
#else
    return false;
#endif
}

void CloseConnection()
{
    try {
        RemoveConnection(QLatin1String(kConnectionName));
    } catch (const std::exception &e) {
        qWarning().noquote() << QStringLiteral("Database connection not closed: %1").arg(QString::fromUtf8(e.what()));
    }
}

bool CompactDB(const QString &path, const QString &checkTable, const QString &password)
{
    // SQLite files carry no password; the argument stays for the callers' sake.
    Q_UNUSED(password);
    QString backup;
    bool madeBackup = false;
    try {
        Step(1);
        // Monitoring goes on after a scheduled compaction: the sensors keep their alarm and
        // mail state (only the program's close-down resets it), so only the connection goes.
        CloseConnection();

        Step(2);
        backup = BackupName(path);
        if (backup.isEmpty())
            return false;

        Step(3);
        // A backup left by an earlier run is removed only while the database itself is
        // sound; otherwise it may hold the only good copy, and both files stay as they are.
        if (QFileInfo::exists(backup)) {
            if (DatabaseSound(path))
                QFile::remove(backup);
            return false;
        }

        Step(4);
        QMap<QString, qint64> counts;
        madeBackup = true;
        RunWaiting([&] {
            ScopedConnection source(QStringLiteral("clarow-compact-source"), path, true);
            counts = RowCounts(source.db());
            Exec(source.db(), QStringLiteral("VACUUM INTO ?"), {backup});
        });

        Step(5);
        RunWaiting([&] {
            {
                ScopedConnection copy(QStringLiteral("clarow-compact-copy"), backup, false);
                CheckIntegrity(copy.db(), QStringLiteral("integrity_check"));
                ReadWholeTable(copy.db(), checkTable);
                if (RowCounts(copy.db()) != counts)
                    throw ClarowError(kErrDatabase, QStringLiteral("The compacted copy lacks rows."));
            }
            if (!SideFilesGone(backup))
                throw ClarowError(kErrDatabase, QStringLiteral("The compacted copy is still in use."));
            SyncToDisk(backup);
        });

        Step(6);
        OpenDatabase();
        ReadWholeTable(Db(), checkTable);

        Step(7);
        // Everything written so far goes into the file itself before it is closed.
        Exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        CloseConnection();

        Step(8);
        // The copy replaces the file in one rename, so the path always holds a whole
        // database. A connection still open on the file (ours or another program's) would
        // keep writing to the replaced file, so it stays as it is then.
        for (const QString &name : QSqlDatabase::connectionNames()) {
            const QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen() && SameFile(FileOfConnection(db.databaseName()), path))
                throw ClarowError(kErrDatabase, QStringLiteral("The database is still in use."));
        }
        if (!SideFilesGone(path))
            throw ClarowError(kErrDatabase, QStringLiteral("The database is still in use."));
        std::error_code ec;
        std::filesystem::rename(std::filesystem::path(QFile::encodeName(backup).toStdString()),
                                std::filesystem::path(QFile::encodeName(path).toStdString()), ec);
        if (ec)
            throw ClarowError(kErrDatabase, QString::fromStdString(ec.message()));
        madeBackup = false;
        SyncToDisk(QFileInfo(path).absolutePath());

        Step(9);
        if (QFileInfo::exists(backup) && !QFile::remove(backup))
            return false;
        return true;
    } catch (const std::exception &e) {
        qWarning().noquote() << QStringLiteral("Compaction of %1 stopped: %2").arg(path, QString::fromUtf8(e.what()));
        CloseConnection();
        // The copy this run made is of no more use once the database is known to be sound;
        // removing it lets the next compaction go ahead.
        if (madeBackup && QFileInfo::exists(backup) && DatabaseSound(path))
            QFile::remove(backup);
        return false;
    }
}

} // namespace clarow
