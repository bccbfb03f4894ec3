#include "views/SensorEdit.h"

#include "core/Database.h"
#include "core/Errors.h"
#include "core/Helpers.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"
#include "monitor/SensorTable.h"

#include <QSqlError>
#include <QSqlQuery>

#include <exception>

namespace clarow {

namespace {

constexpr int kSaveAttempts = 6;
constexpr double kRetryWaitSeconds = 0.5;
constexpr int kAlarmIfWet = 1;
constexpr int kAlarmIfDry = 2;

QString textOf(const QVariant &v) { return v.isNull() ? QString() : SingleText(static_cast<float>(v.toDouble())); }

// One attempt, all or nothing.
void saveOnce(const QString &id, const SensorKind &kind, const SensorEdits &e)
{
    QSqlDatabase db = Db();
    if (!db.transaction())
        throw ClarowError(kErrDatabase, db.lastError().text());
    try {
        QSqlQuery row = Exec(QStringLiteral("SELECT aWtDr FROM Sensors WHERE SensorID = ?"), {id});
        if (!row.next())
            throw ClarowError(kErrDatabase, QStringLiteral("The sensor is not in the table."));
        const QVariant storedWater = row.value(0);
        row.finish();
        // Limits go in as numbers only: the column would take any text without complaint.
        const float tempLo = SingleOf(e.tempLo);
        const float tempHi = SingleOf(e.tempHi);

        QString sql = QStringLiteral("UPDATE Sensors SET Location = ?, aTempLo = ?, aTempHi = ?");
        QVariantList binds{e.location, static_cast<double>(tempLo), static_cast<double>(tempHi)};
        if (kind.hasCh2) {
            const float ch2Lo = SingleOf(e.ch2Lo);
            const float ch2Hi = SingleOf(e.ch2Hi);
            sql += QStringLiteral(", aCh2Lo = ?, aCh2Hi = ?");
            binds << static_cast<double>(ch2Lo) << static_cast<double>(ch2Hi);
        }
        // A water sensor whose choice was not offered keeps what it had (wet when nothing).
        QVariant water;
        if (kind.hasWater) {
            const int stored = storedWater.isNull() ? 0 : storedWater.toInt();
            if (e.alarmIfDry)
                water = *e.alarmIfDry ? kAlarmIfDry : kAlarmIfWet;
            else
                water = stored == kAlarmIfDry ? kAlarmIfDry : kAlarmIfWet;
        }
        sql += QStringLiteral(", aWtDr = ? WHERE SensorID = ?");
        binds << water << id;
        if (Exec(sql, binds).numRowsAffected() != 1)
            throw ClarowError(kErrDatabase, QStringLiteral("The sensor is not in the table."));

        // The alarm as the scan judges it, against the new limits and water choice: a sensor
        // that stopped answering, or a wet or damaged tape, stays in alarm whatever its limits.
        const std::optional<int> alType = CurrentAlarmType(id);
        if (!alType)
            throw ClarowError(kErrDatabase, QStringLiteral("The sensor is not in the table."));
        Exec(QStringLiteral("UPDATE Sensors SET InAlarm = ?, AlType = ? WHERE SensorID = ?"),
             {*alType > 0 ? 1 : 0, *alType, id});
        if (!db.commit())
            throw ClarowError(kErrDatabase, db.lastError().text());
    } catch (...) {
        db.rollback();
        throw;
    }
}

} // namespace

std::optional<SensorValues> LoadSensor(const QString &sensorId)
{
    QSqlQuery q = Exec(QStringLiteral("SELECT Location, aTempLo, aTempHi, aCh2Lo, aCh2Hi, aWtDr "
                                      "FROM Sensors WHERE SensorID = ?"),
                       {sensorId});
    if (!q.next())
        return std::nullopt;
    SensorValues v;
    v.location = q.value(0).toString();
    v.tempLo = textOf(q.value(1));
    v.tempHi = textOf(q.value(2));
    v.ch2Lo = textOf(q.value(3));
    v.ch2Hi = textOf(q.value(4));
    if (!q.value(5).isNull())
        v.aWtDr = q.value(5).toInt();
    return v;
}

bool SaveSensor(const QString &sensorId, const SensorEdits &edits, QString *failure)
{
    const SensorKind kind = KindOf(sensorId);
    for (int attempt = 1; attempt <= kSaveAttempts; ++attempt) {
        if (attempt > 1)
            Pause(kRetryWaitSeconds);
        try {
            saveOnce(sensorId, kind, edits);
            return true;
        } catch (const ClarowError &e) {
            // Tried again: a row locked by a scan is free a moment later.
            if (failure)
                *failure = e.description();
        } catch (const std::exception &e) {
            if (failure)
                *failure = QString::fromLocal8Bit(e.what());
        }
    }
    return false;
}

bool DeleteSensor(const QString &sensorId)
{
    return Exec(QStringLiteral("DELETE FROM Sensors WHERE SensorID = ?"), {sensorId}).numRowsAffected() > 0;
}

} // namespace clarow
