#include "views/LogData.h"

#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/Prompter.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"

#include <QSqlError>
#include <QSqlQuery>

namespace clarow {

namespace {

// The views read through a connection of their own.
const QString kViewConnection = QStringLiteral("clarow-views");

// A column read as a number; an empty (NULL) value is an error, as it is for the limits.
double number(const QSqlQuery &q, int column)
{
    const QVariant v = q.value(column);
    if (v.isNull())
        throw ClarowError(kErrTypeMismatch, QStringLiteral("Invalid use of Null"));
    return v.toDouble();
}

// The limits and location of the sensor's row.
void ReadSensorRow(const QSqlDatabase &db, LogData &data, const QString &sensorId, bool hasCh2)
{
    QSqlQuery q = Exec(db,
                       QStringLiteral("SELECT SensorID, Location, cTmp, cCh2, aTempLo, aTempHi, aCh2Lo, aCh2Hi, "
                                      "LastR, InAlarm, Connected FROM Sensors WHERE SensorID = ?"),
                       {sensorId});
    if (!q.next())
        throw ClarowError(kErrDatabase, QStringLiteral("No current record."));
    data.TempLo = static_cast<float>(number(q, 4));
    data.TempHi = static_cast<float>(number(q, 5));
    if (hasCh2) {
        data.Ch2Lo = static_cast<float>(number(q, 6));
        data.Ch2Hi = static_cast<float>(number(q, 7));
    }
    if (q.value(1).isNull())
        throw ClarowError(kErrTypeMismatch, QStringLiteral("Invalid use of Null"));
    data.Location = q.value(1).toString();
}

// The serial day number of a date and a time of day, from the fields alone: no QDateTime is
// made, so a time inside a daylight-saving gap still has its number. The same sum the
// monitor stores, so a stored time and a bound of the same second compare equal.
double SerialOf(const QDate &date, qint64 msOfDay)
{
    static const QDate epoch(1899, 12, 30);
    const double days = static_cast<double>(epoch.daysTo(date));
    const double frac = static_cast<double>(msOfDay) / 86400000.0;
    return days < 0 ? days - frac : days + frac;
}

QString WaterOf(const QVariant &v)
{
    if (!v.isNull() && v.toInt() == 0)
        return QStringLiteral("Dry");
    if (!v.isNull() && v.toInt() == 2)
        return QStringLiteral("Wet");
    return QStringLiteral("Fault");
}

// Reads the sensor's limits and location into data, then hands each history row of
// from <= time <= to (at most limit of them, 0 for all) to onRow in time order: lTime, lTemp,
// lCh2, lWtr. One read transaction on a connection of its own, so the limits and the
// readings come from the same moment even while a scan appends to the history.
template <class OnRow>
void ReadHistoryOn(const QSqlDatabase &db, LogData &data, const QString &sensorId, bool hasCh2,
                   const SerialRange &range, int limit, OnRow &&onRow)
{
    Exec(db, QStringLiteral("BEGIN"));
    ReadSensorRow(db, data, sensorId, hasCh2);
    data.SensorId = sensorId;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT lTime, lTemp, lCh2, lWtr FROM LogTbl WHERE SensorID = ? "
                             "AND lTime >= ? AND lTime < ? ORDER BY lTime")
              + (limit > 0 ? QStringLiteral(" LIMIT %1").arg(limit) : QString()));
    q.addBindValue(sensorId);
    q.addBindValue(range.from);
    q.addBindValue(range.before);
    if (!q.exec())
        throw ClarowError(kErrDatabase, q.lastError().text());
    while (q.next())
        onRow(q);
    q.finish();
    Exec(db, QStringLiteral("COMMIT"));
}

template <class OnRow>
void ReadHistory(LogData &data, const QString &sensorId, bool hasCh2, const SerialRange &range,
                 int limit, OnRow &&onRow)
{
    ScopedConnection c(kViewConnection);
    ReadHistoryOn(c.db(), data, sensorId, hasCh2, range, limit, std::forward<OnRow>(onRow));
}

} // namespace

LogData &logData()
{
    static LogData data;
    return data;
}

ViewFlags &viewFlags()
{
    static ViewFlags flags;
    return flags;
}

void resetViews()
{
    logData() = LogData();
    viewFlags() = ViewFlags();
}

SerialRange WholeSecondsRange(const QDateTime &from, const QDateTime &to)
{
    const qint64 fromMs = from.time().msecsSinceStartOfDay() / 1000 * 1000LL;
    const qint64 toNextSecond = (to.time().msecsSinceStartOfDay() / 1000 + 1) * 1000LL;
    return {SerialOf(from.date(), fromMs), SerialOf(to.date(), toNextSecond)};
}

namespace {

// LoadLogData on db (nullptr: the views' own connection); with quiet set, a cut at the row
// limit is only told through truncated, never by a message box.
LoadResult LoadRows(const QSqlDatabase *db, LogData &data, const QString &sensorId, const QDateTime &from,
                    const QDateTime &to, bool quiet, bool *truncated)
{
    LoadResult r;
    r.kind = KindOf(sensorId);
    if (truncated)
        *truncated = false;
    try {
        std::vector<LogPoint> points;
        std::vector<QString> water;
        auto onRow = [&](const QSqlQuery &q) {
            LogPoint p;
            p.Time = number(q, 0);
            p.Temp = static_cast<float>(number(q, 1));
            if (r.kind.hasCh2)
                p.Ch2 = static_cast<float>(number(q, 2));
            points.push_back(p);
            if (r.kind.hasWater)
                water.push_back(WaterOf(q.value(3)));
        };
        const SerialRange range = WholeSecondsRange(from, to);
        if (db)
            ReadHistoryOn(*db, data, sensorId, r.kind.hasCh2, range, kMaxLogRows + 1, onRow);
        else
            ReadHistory(data, sensorId, r.kind.hasCh2, range, kMaxLogRows + 1, onRow);

        data.RecCount = static_cast<qint32>(points.size());
        if (data.RecCount > kMaxLogRows && truncated)
            *truncated = true;
        if (data.RecCount > kMaxLogRows && !quiet) {
            MsgBox(QStringLiteral("The database contains more than 65,000 records\rfor this logger. "
                                  "Only 65,000 records may be displayed or exported."),
                   QStringLiteral("Limit exceeded"));
        }
        if (data.RecCount > kMaxLogRows) {
            data.RecCount = kMaxLogRows;
            points.resize(kMaxLogRows);
            if (!water.empty())
                water.resize(kMaxLogRows);
        }
        data.Points = std::move(points);
        data.WaterText = std::move(water);
        if (data.RecCount == 0) {
            r.outcome = LoadOutcome::Empty;
            return r;
        }
        r.first = FromSerial(data.Points.front().Time);
        r.last = FromSerial(data.Points.back().Time);
        r.outcome = LoadOutcome::Loaded;
    } catch (const ClarowError &e) {
        r.outcome = LoadOutcome::Failed;
        r.errorNumber = e.number();
        r.error = e.description();
    }
    return r;
}

} // namespace

LoadResult LoadLogData(LogData &data, const QString &sensorId, const QDateTime &from,
                       const QDateTime &to)
{
    return LoadRows(nullptr, data, sensorId, from, to, false, nullptr);
}

LoadResult LoadLogDataOn(const QSqlDatabase &db, LogData &data, const QString &sensorId,
                         const QDateTime &from, const QDateTime &to, bool *truncated)
{
    return LoadRows(&db, data, sensorId, from, to, true, truncated);
}

void ReportLoadFailure(const QString &sensorId, const LoadResult &result)
{
    WriteLog(QStringLiteral("Error loading the data log of ") + sensorId + QStringLiteral(": ") + result.error);
    ShowError(result.errorNumber, result.error);
}

bool ConfirmGridFill(int recCount)
{
    if (recCount <= kConfirmRows)
        return true;
    return MsgBox(QString::number(recCount)
                      + QStringLiteral(" records are available for display.\rAnd may take several minutes "
                                       "to load.\rDo you wish to view the data?"),
                  QStringLiteral("Confirm load"), Buttons::OkCancel)
        == Answer::Ok;
}

LoadResult LoadRecentData(LogData &data, const QString &sensorId, int hours)
{
    LoadResult r;
    r.kind = KindOf(sensorId);
    // The start is counted back from now in serial days: a start inside a daylight-saving
    // gap has no local date-time of its own, but it has its day number.
    const QDateTime now = Now();
    SerialRange range = WholeSecondsRange(now, now);
    range.from = ToSerial(now) - hours / 24.0;
    try {
        std::vector<LogPoint> points;
        ReadHistory(data, sensorId, r.kind.hasCh2, range, 0, [&](const QSqlQuery &q) {
            LogPoint p;
            p.Time = number(q, 0);
            p.Temp = static_cast<float>(number(q, 1));
            if (r.kind.hasCh2 && q.value(2).toDouble() > 0)
                p.Ch2 = static_cast<float>(q.value(2).toDouble());
            points.push_back(p);
        });
        data.RecCount = static_cast<qint32>(points.size());
        data.Points = std::move(points);
        data.WaterText.clear();
        r.outcome = data.RecCount == 0 ? LoadOutcome::Empty : LoadOutcome::Loaded;
        if (data.RecCount > 0) {
            r.first = FromSerial(data.Points.front().Time);
            r.last = FromSerial(data.Points.back().Time);
        }
    } catch (const ClarowError &e) {
        r.outcome = LoadOutcome::Failed;
        r.errorNumber = e.number();
        r.error = e.description();
    }
    return r;
}

} // namespace clarow
