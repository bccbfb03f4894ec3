#include "DbSnapshot.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

namespace clarow::test {

QList<QList<QVariantList>> ReadTogether(const QString &file, const QStringList &queries)
{
    QList<QList<QVariantList>> results(queries.size());
    const QString name = QStringLiteral("test-snapshot-reader");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open() && db.transaction()) {
            for (qsizetype i = 0; i < queries.size(); ++i) {
                QSqlQuery q(db);
                q.setForwardOnly(true);
                if (!q.exec(queries.at(i)))
                    continue;
                while (q.next()) {
                    QVariantList row;
                    for (int c = 0; c < q.record().count(); ++c)
                        row << q.value(c);
                    results[i] << row;
                }
            }
            db.commit();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return results;
}

} // namespace clarow::test
