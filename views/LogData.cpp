#include "views/LogData.h"

#include "link/Clock.h"
#include "link/TypeCodes.h"
#include "shell/Database.h"
#include "shell/Errors.h"
#include "shell/Helpers.h"
#include "shell/Prompter.h"

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

// A query bound of a time: its serial day number as the 12-character text the history query
// compares with, read back as a number.
double Bound(const QDateTime &t) { return DateNumberText(t).toDouble(); }

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
                   const QDateTime &from, const QDateTime &to, int limit, OnRow &&onRow)
{
    Exec(db, QStringLiteral("BEGIN"));
    ReadSensorRow(db, data, sensorId, hasCh2);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT lTime, lTemp, lCh2, lWtr FROM LogTbl WHERE SensorID = ? "
                             "AND lTime >= ? AND lTime <= ? ORDER BY lTime")
              + (limit > 0 ? QStringLiteral(" LIMIT %1").arg(limit) : QString()));
    q.addBindValue(sensorId);
    q.addBindValue(Bound(from));
    q.addBindValue(Bound(to));
    if (!q.exec())
        throw ClarowError(kErrDatabase, QStringLiteral("The history could not be read."));
    while (q.next())
        onRow(q);
    q.finish();
    Exec(db, QStringLiteral("COMMIT"));
}

template <class OnRow>
void ReadHistory(LogData &data, const QString &sensorId, bool hasCh2, const QDateTime &from,
                 const QDateTime &to, int limit, OnRow &&onRow)
{
    ScopedConnection c(kViewConnection);
    ReadHistoryOn(c.db(), data, sensorId, hasCh2, from, to, limit, std::forward<OnRow>(onRow));
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

QString Ch2Name(const QString &type)
{
    if (type == QLatin1String("1B"))
        return QStringLiteral("Light");
    if (type == QLatin1String("19") || type == QLatin1String("1E"))
        return QStringLiteral("Humidity");
    if (type == QLatin1String("1A"))
        return QStringLiteral("Voltage");
    if (type == QLatin1String("1C"))
        return QStringLiteral("Current");
    return {};
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
        if (db)
            ReadHistoryOn(*db, data, sensorId, r.kind.hasCh2, from, to, kMaxLogRows + 1, onRow);
        else
            ReadHistory(data, sensorId, r.kind.hasCh2, from, to, kMaxLogRows + 1, onRow);

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
    } catch (const ClarowError &) {
        r.outcome = LoadOutcome::Failed;
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

bool LoadRecentData(LogData &data, const QString &sensorId, int hours)
{
    const SensorKind kind = KindOf(sensorId);
    const QDateTime now = Now();
    const QDateTime from = FromSerial(ToSerial(now) - hours / 24.0);
    try {
        std::vector<LogPoint> points;
        ReadHistory(data, sensorId, kind.hasCh2, from, now, 0, [&](const QSqlQuery &q) {
            LogPoint p;
            p.Time = number(q, 0);
            p.Temp = static_cast<float>(number(q, 1));
            if (kind.hasCh2 && q.value(2).toDouble() > 0)
                p.Ch2 = static_cast<float>(q.value(2).toDouble());
            points.push_back(p);
        });
        data.RecCount = static_cast<qint32>(points.size());
        data.Points = std::move(points);
        data.WaterText.clear();
        return true;
    } catch (const ClarowError &) {
        return false;
    }
}

} // namespace clarow
