#include "views/SensorEdit.h"

#include "link/Clock.h"
#include "link/TypeCodes.h"
#include "shell/Database.h"
#include "shell/Errors.h"
#include "shell/Helpers.h"

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

bool outside(std::optional<float> reading, float low, float high)
{
    return reading && (*reading < low || *reading > high);
}

std::optional<float> reading(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    return static_cast<float>(v.toDouble());
}

// One attempt, all or nothing.
void saveOnce(const QString &id, const SensorKind &kind, const SensorEdits &e)
{
    QSqlDatabase db = Db();
    if (!db.transaction())
        throw ClarowError(kErrDatabase, db.lastError().text());
    try {
        QSqlQuery row = Exec(QStringLiteral("SELECT cTmp, cCh2, aWtDr FROM Sensors WHERE SensorID = ?"), {id});
        if (!row.next())
            throw ClarowError(kErrDatabase, QStringLiteral("The sensor is not in the table."));
        // Limits go in as numbers only: the column would take any text without complaint.
        const float tempLo = SingleOf(e.tempLo);
        const float tempHi = SingleOf(e.tempHi);
        bool inAlarm = outside(reading(row.value(0)), tempLo, tempHi);

        QString sql = QStringLiteral("UPDATE Sensors SET Location = ?, aTempLo = ?, aTempHi = ?");
        QVariantList binds{e.location, static_cast<double>(tempLo), static_cast<double>(tempHi)};
        if (kind.hasCh2) {
            const float ch2Lo = SingleOf(e.ch2Lo);
            const float ch2Hi = SingleOf(e.ch2Hi);
            inAlarm = inAlarm || outside(reading(row.value(1)), ch2Lo, ch2Hi);
            sql += QStringLiteral(", aCh2Lo = ?, aCh2Hi = ?");
            binds << static_cast<double>(ch2Lo) << static_cast<double>(ch2Hi);
        }
        // A water sensor whose choice was not offered keeps what it had (wet when nothing).
        QVariant water;
        if (kind.hasWater) {
            const int stored = row.value(2).isNull() ? 0 : row.value(2).toInt();
            if (e.alarmIfDry)
                water = *e.alarmIfDry ? kAlarmIfDry : kAlarmIfWet;
            else
                water = stored == kAlarmIfDry ? kAlarmIfDry : kAlarmIfWet;
        }
        sql += QStringLiteral(", InAlarm = ?, aWtDr = ? WHERE SensorID = ?");
        binds << (inAlarm ? 1 : 0) << water << id;
        if (Exec(sql, binds).numRowsAffected() != 1)
            throw ClarowError(kErrDatabase, QStringLiteral("The sensor is not in the table."));
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

bool SaveSensor(const QString &sensorId, const SensorEdits &edits)
{
    const SensorKind kind = KindOf(sensorId);
    for (int attempt = 1; attempt <= kSaveAttempts; ++attempt) {
        if (attempt > 1)
            Pause(kRetryWaitSeconds);
        try {
            saveOnce(sensorId, kind, edits);
            return true;
        } catch (const std::exception &) {
            // Tried again: a row locked by a scan is free a moment later.
        }
    }
    return false;
}

bool DeleteSensor(const QString &sensorId)
{
    return Exec(QStringLiteral("DELETE FROM Sensors WHERE SensorID = ?"), {sensorId}).numRowsAffected() > 0;
}

} // namespace clarow
