#pragma once

#include <QSqlDatabase>
#include <QString>

namespace clarow {

// The name of the one program-wide connection.
inline constexpr const char *kConnectionName = "clarow";

// The program-wide connection (invalid while closed).
[[nodiscard]] QSqlDatabase Db();
[[nodiscard]] bool DatabaseIsOpen();

// Opens the connection to clarowdata.mdb in the program folder and adds the columns an
// older file lacks; empty DefaultSensorLoc / LocationName become "Unknown" / "Unknown
// Location" for this run. Throws ClarowError when the file is missing or cannot be opened.
void OpenDatabase();

// Adds a column when a select of it fails. True when the column exists afterwards.
bool EnsureColumn(const QString &table, const QString &column, const QString &type);

// Close-down: saves the window positions, closes the serial port, resets the alarm and mail
// state of every sensor, closes the connection.
void CloseAll();

// Closes the connection without the close-down steps (used when rebuilding it).
void CloseConnection();

// Compacts the database file into a copy and puts the copy in its place, so that no failure
// at any step loses data. The connection is closed on return.
bool CompactDB(const QString &path, const QString &checkTable, const QString &password);

} // namespace clarow
