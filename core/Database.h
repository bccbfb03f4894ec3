#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>

namespace clarow {

// The name of the one program-wide connection.
inline constexpr const char *kConnectionName = "clarow";

// The program-wide connection (invalid while closed).
[[nodiscard]] QSqlDatabase Db();
[[nodiscard]] bool DatabaseIsOpen();

// Opens the connection to clarowdata.mdb in the program folder and brings a file of an older
// layout up to kSchemaVersion, all at once; empty DefaultSensorLoc / LocationName become
// "Unknown" / "Unknown Location" for this run. Throws ClarowError when the file is missing or
// cannot be opened or upgraded, and when it is of a newer layout than this program knows
// (that file is left as it is); a missing file is never created.
void OpenDatabase();

// Opens a connection of its own, under the given name, to the database file at path (the
// program's database when empty), with the settings of the shared one; the file is never
// created. Throws ClarowError on failure. The caller closes it and removes it with
// QSqlDatabase::removeDatabase(name).
[[nodiscard]] QSqlDatabase OpenPrivateConnection(const QString &name, const QString &path = {});

// A connection of its own as OpenPrivateConnection makes it (walMode false leaves the
// journal mode of the file alone), closed and removed when it goes out of scope.
class ScopedConnection
{
public:
    explicit ScopedConnection(const QString &name, const QString &path = {}, bool walMode = true);
    ~ScopedConnection();
    ScopedConnection(const ScopedConnection &) = delete;
    ScopedConnection &operator=(const ScopedConnection &) = delete;
    [[nodiscard]] const QSqlDatabase &db() const { return m_db; }

private:
    QString m_name;
    QSqlDatabase m_db;
};

// Runs one statement on the shared connection (or on db) with the values bound to its
// placeholders in order. Throws ClarowError(kErrDatabase, the engine's text) on failure.
QSqlQuery Exec(const QString &sql, const QVariantList &binds = {});
QSqlQuery Exec(const QSqlDatabase &db, const QString &sql, const QVariantList &binds = {});

// Adds a column when the table lacks it. True when the column exists afterwards.
bool EnsureColumn(const QString &table, const QString &column, const QString &type);

// The layout of the database file this program reads and writes, kept in the file as its
// PRAGMA user_version. The schema the build makes the empty database from sets the same.
inline constexpr int kSchemaVersion = 3;

// Clears the alarm, connection and mail state of every sensor (a step of the close-down: the
// next start begins with no sensor in alarm). Nothing when the database is not open.
void ResetSensorStates();

// True when the database file the connection was opened on has since been deleted or
// replaced by another file: whatever the connection writes then never reaches the program
// folder's file.
[[nodiscard]] bool DatabaseFileGone();

// Closes the connection without the close-down steps (used when rebuilding it). Never throws.
void CloseConnection();

// Compacts the database file into a copy and puts the copy in its place, so that no failure
// at any step loses data. The sensors' alarm and mail state stays as it is. The connection is
// closed on return.
bool CompactDB(const QString &path, const QString &checkTable, const QString &password);

} // namespace clarow

namespace clarow::testhooks {
// Called with the number of each step of CompactDB before it runs (1 connection closed, 2 backup
// name, 3 stale backup, 4 compaction into the backup, 5 check of the copy, 6 reopen and
// check of the database, 7 connection closed, 8 copy put in place, 9 backup removed). A test makes
// a step fail by throwing from it.
extern std::function<void(int step)> compactStep;
} // namespace clarow::testhooks
