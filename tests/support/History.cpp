#include "History.h"

#include "link/Clock.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariantList>

namespace clarow::test {

namespace {

template <class F>
void WithDatabase(const QString &path, F &&f)
{
    const QString name = QStringLiteral("test-history");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        db.transaction();
        f(db);
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

void AddSensor(const QString &databasePath, const SensorRow &row)
{
    WithDatabase(databasePath, [&row](QSqlDatabase &db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO Sensors (SensorID, Location, aTempLo, aTempHi, aCh2Lo, "
                                 "aCh2Hi, Connected) VALUES (?, ?, ?, ?, ?, ?, 1)"));
        for (const QVariant &v : QVariantList{row.id, row.location, row.tempLo, row.tempHi, row.ch2Lo, row.ch2Hi})
            q.addBindValue(v);
        q.exec();
    });
}

void AddReadings(const QString &databasePath, const QString &sensorId, const QDateTime &start,
                 int count, int stepSeconds, const std::function<double(int)> &temp,
                 const std::function<double(int)> &ch2)
{
    WithDatabase(databasePath, [&](QSqlDatabase &db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO LogTbl (SensorID, lTime, lTemp, lCh2, lWtr) VALUES (?, ?, ?, ?, ?)"));
        for (int i = 0; i < count; ++i) {
            q.bindValue(0, sensorId);
            q.bindValue(1, ToSerial(start.addSecs(static_cast<qint64>(i) * stepSeconds)));
            q.bindValue(2, temp(i));
            q.bindValue(3, ch2 ? QVariant(ch2(i)) : QVariant());
            q.bindValue(4, ch2 ? QVariant(0) : QVariant());
            q.exec();
        }
    });
}

} // namespace clarow::test
