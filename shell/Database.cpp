#include "shell/Database.h"

namespace clarow {

QSqlDatabase Db() { return QSqlDatabase::database(QLatin1String(kConnectionName), false); }
bool DatabaseIsOpen() { return Db().isOpen(); }
void OpenDatabase() {}
bool EnsureColumn(const QString &, const QString &, const QString &) { return false; }
void CloseAll() {}
void CloseConnection() {}
bool CompactDB(const QString &, const QString &, const QString &) { return false; }

} // namespace clarow
