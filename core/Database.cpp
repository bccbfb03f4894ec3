#include "core/Database.h"

#include "core/Errors.h"
#include "core/Logging.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/SerialPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSqlError>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <iterator>
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

// check, when given, sees the file before anything is written to it (the journal mode is
// part of the file); its ClarowError refuses the file.
QSqlDatabase OpenFile(const QString &name, const QString &file, bool walMode,
                      const std::function<void(const QSqlDatabase &)> &check = {})
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
                if (check)
                    check(db);
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

bool HasColumn(const QSqlDatabase &db, const QString &table, const QString &column)
{
    QSqlQuery q = Exec(db, QStringLiteral("SELECT count(*) FROM pragma_table_info(?) WHERE name = ? COLLATE NOCASE"),
                       {table, column});
    return q.next() && q.value(0).toInt() > 0;
}

// Adds the column unless the table has it. A yes/no column is added as it is declared,
// any other as nullable.
void AddColumnIfMissing(const QSqlDatabase &db, const QString &table, const QString &column, const QString &type)
{
    if (!IsPlainName(table) || !IsPlainName(column))
        throw ClarowError(kErrDatabase, QStringLiteral("Invalid column name '%1.%2'.").arg(table, column));
    if (HasColumn(db, table, column))
        return;
    if (!IsPlainType(type))
        throw ClarowError(kErrDatabase, QStringLiteral("Invalid column type '%1'.").arg(type));
    const bool flag = type.compare(QLatin1String("YesNo"), Qt::CaseInsensitive) == 0
        || type.compare(QLatin1String("BOOLEAN"), Qt::CaseInsensitive) == 0;
    Exec(db, QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3%4")
                 .arg(Bracketed(table), Bracketed(column), type, flag ? QString() : QStringLiteral(" NULL")));
}

// The steps from one layout of the file to the next; a step brings the file from the version
// before it to its own. The first three are the additions made while the layout was still
// probed at every open: the probing added them to files at 0, and the empty database of those
// builds was stamped 1 whatever else it held, so a file at 0 or 1 may have any of them
// already and these steps add only what is missing. A later step can rely on the version: the
// file holds everything the steps before it added.
struct Migration
{
    int version;
    void (*apply)(const QSqlDatabase &db);
};

constexpr Migration kMigrations[] = {
    // The water sensors' state and alarm flag, and the water status in the history.
    {1,
     [](const QSqlDatabase &db) {
         AddColumnIfMissing(db, QStringLiteral("Sensors"), QStringLiteral("wStatus"), QStringLiteral("TINYINT"));
         AddColumnIfMissing(db, QStringLiteral("Sensors"), QStringLiteral("aWtDr"), QStringLiteral("TINYINT"));
         AddColumnIfMissing(db, QStringLiteral("LogTbl"), QStringLiteral("lWtr"), QStringLiteral("TINYINT"));
     }},
    // The alarm a mail went out for (AlType at the time), so that the mail that ends it can
    // tell a sensor that came back from one that cooled down.
    {2,
     [](const QSqlDatabase &db) {
         AddColumnIfMissing(db, QStringLiteral("Sensors"), QStringLiteral("MailedAlType"), QStringLiteral("INTEGER"));
     }},
    // The push notifications' own alarm state beside the mail's, and their outbox of
    // deliveries still owed, so that a channel that is down loses nothing across a restart:
    // one row per event and sensor, oldest first, gone once its receiver has taken it.
    {3,
     [](const QSqlDatabase &db) {
         AddColumnIfMissing(db, QStringLiteral("Sensors"), QStringLiteral("NotifySent"), QStringLiteral("INTEGER"));
         AddColumnIfMissing(db, QStringLiteral("Sensors"), QStringLiteral("NotifyConc"), QStringLiteral("INTEGER"));
         AddColumnIfMissing(db, QStringLiteral("Sensors"), QStringLiteral("NotifiedAlType"), QStringLiteral("INTEGER"));
         Exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS Outbox (Id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                 "Channel TEXT NOT NULL, Event TEXT NOT NULL, SensorID TEXT NOT NULL, "
                                 "Created REAL NOT NULL, Payload TEXT NOT NULL, "
                                 "Attempts INTEGER NOT NULL DEFAULT 0, LastError TEXT)"));
     }},
};
static_assert(std::size(kMigrations) > 0 && kMigrations[std::size(kMigrations) - 1].version == kSchemaVersion,
              "the last step reaches the version the program knows");

int FileVersion(const QSqlDatabase &db)
{
    QSqlQuery q = Exec(db, QStringLiteral("PRAGMA user_version"));
    return q.next() ? q.value(0).toInt() : 0;
}

// A file that a newer program has brought past the layout this one knows would be
// misread or damaged by it.
ClarowError NewerFileError(const QString &file, int version)
{
    return ClarowError(kErrDatabase, QStringLiteral("The database file '%1' is of version %2, newer than this Clarow "
                                                    "knows (version %3). It was left as it is; open it with the "
                                                    "Clarow that made it, or a newer one.")
                                         .arg(QDir::toNativeSeparators(file))
                                         .arg(version)
                                         .arg(kSchemaVersion));
}

void RollBack(const QSqlDatabase &db)
{
    try {
        Exec(db, QStringLiteral("ROLLBACK"));
    } catch (const ClarowError &) {
        // a failed statement may have ended the transaction already
    }
}

// Runs every step past the file's version, in order, in one transaction that also records the
// new version: a failed step leaves the file as it was. A file at the current version is not
// written to.
void Upgrade(const QSqlDatabase &db, const QString &file)
{
    if (FileVersion(db) == kSchemaVersion)
        return;
    Exec(db, QStringLiteral("BEGIN IMMEDIATE"));
    int from = 0;
    try {
        // Read again under the write lock: another program may have upgraded the file since.
        from = FileVersion(db);
        if (from <= kSchemaVersion) {
            for (const Migration &m : kMigrations) {
                if (m.version > from) {
                    qCDebug(lcDb, "upgrading %s to layout version %d", qUtf8Printable(file), m.version);
                    m.apply(db);
                }
            }
            Exec(db, QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
            Exec(db, QStringLiteral("COMMIT"));
            return;
        }
    } catch (const ClarowError &e) {
        RollBack(db);
        throw ClarowError(kErrDatabase, QStringLiteral("The database file '%1' could not be upgraded from version "
                                                       "%2 to version %3: %4")
                                            .arg(QDir::toNativeSeparators(file))
                                            .arg(from)
                                            .arg(kSchemaVersion)
                                            .arg(e.description()));
    }
    RollBack(db);
    throw NewerFileError(file, from);
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
    const QString file = DatabasePath();
    OpenFile(QLatin1String(kConnectionName), file, true, [&file](const QSqlDatabase &db) {
        if (const int version = FileVersion(db); version > kSchemaVersion)
            throw NewerFileError(file, version);
    });
    g_openedFile = IdentityOf(file);
    LetEventsRun();
    try {
        Upgrade(Db(), file);
    } catch (const ClarowError &) {
        CloseConnection();
        throw;
    }
    ApplyNameFallbacks(program().settings);
}

bool EnsureColumn(const QString &table, const QString &column, const QString &type)
{
    if (!DatabaseIsOpen())
        return false;
    try {
        AddColumnIfMissing(Db(), table, column, type);
        return true;
    } catch (const ClarowError &) {
        return false;
    }
}

void ResetSensorStates()
{
    if (!DatabaseIsOpen())
        return;
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
        throw;
    }
    LetEventsRun();
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
        qCWarning(lcDb).noquote() << QStringLiteral("Database connection not closed: %1").arg(QString::fromUtf8(e.what()));
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
        qCWarning(lcDb).noquote() << QStringLiteral("Compaction of %1 stopped: %2").arg(path, QString::fromUtf8(e.what()));
        CloseConnection();
        // The copy this run made is of no more use once the database is known to be sound;
        // removing it lets the next compaction go ahead.
        if (madeBackup && QFileInfo::exists(backup) && DatabaseSound(path))
            QFile::remove(backup);
        return false;
    }
}

} // namespace clarow
