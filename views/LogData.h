#pragma once

#include "link/TypeCodes.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

#include <vector>

namespace clarow {

// One stored reading: its time as a serial day number, the temperature and the second
// channel (0 for a sensor without one).
struct LogPoint
{
    double Time = 0;
    float Temp = 0;
    float Ch2 = 0;
};

// The loaded history of one sensor, shared by the log window, its export and the graph. It
// belongs to the selected sensor as it stood at the last load; the windows that show it keep
// a copy of their own, so that a later load of another sensor does not change what they show.
struct LogData
{
    QString SensorId; // the sensor the readings were loaded for
    float TempLo = 0;
    float TempHi = 0;
    float Ch2Lo = 0;
    float Ch2Hi = 0;
    QString Location;
    qint32 RecCount = 0;
    std::vector<LogPoint> Points;        // ascending time, RecCount of them
    std::vector<QString> WaterText;      // "Dry", "Wet" or "Fault" per point, water sensors only
};

// The one loaded data set of the program, and the program-wide view choices that live as
// long as it: the grid's newest-first order and the graph's four hide flags.
LogData &logData();
struct ViewFlags
{
    bool DescOrder = false;
    bool HideTempPlot = false;
    bool HideTempLimits = false;
    bool HideCh2Plot = false;
    bool HideCh2Limits = false;
};
ViewFlags &viewFlags();
// Back to the values of a fresh start (tests).
void resetViews();

// The most readings one load takes in.
inline constexpr int kMaxLogRows = 65000;
// Above this many readings the grid fill is confirmed first.
inline constexpr int kConfirmRows = 5000;

enum class LoadOutcome {
    Failed, // the load ended early; the data set holds what was read up to then
    Empty,  // no readings in the range
    Loaded, // the data set holds the readings
};

struct LoadResult
{
    LoadOutcome outcome = LoadOutcome::Failed;
    SensorKind kind;
    QDateTime first; // times of the first and last reading
    QDateTime last;
    int errorNumber = 0; // why a load failed
    QString error;
};

// A range of stored times as serial day numbers: from <= time < before.
struct SerialRange
{
    double from = 0;
    double before = 0;
};
// The range from the start of from's second to the end of to's second, both read off their
// local date and time fields, so that a time the clock skips (a daylight-saving gap) still
// gives its place in the day and the last second of a day (23:59:59) is inside.
[[nodiscard]] SerialRange WholeSecondsRange(const QDateTime &from, const QDateTime &to);

// Loads into data the readings of sensorId with from <= time <= to (whole seconds, see
// WholeSecondsRange); at most kMaxLogRows of them (the oldest), with the "Limit exceeded"
// message when there are more. Uses a connection of its own to the program's database file.
LoadResult LoadLogData(LogData &data, const QString &sensorId, const QDateTime &from,
                       const QDateTime &to);

// A load that failed: the reason goes to the diagnostic log and to the shared error message,
// so that the readings still shown are never taken for the answer.
void ReportLoadFailure(const QString &sensorId, const LoadResult &result);

// LoadLogData for a reader on a thread of its own: through db, a connection that thread opened,
// and without the message box; truncated (when given) tells that the range held more than
// kMaxLogRows readings and only the oldest kMaxLogRows were taken.
LoadResult LoadLogDataOn(const QSqlDatabase &db, LogData &data, const QString &sensorId,
                         const QDateTime &from, const QDateTime &to, bool *truncated = nullptr);

// Asks "Confirm load" when more than kConfirmRows readings would fill the grid; true when the
// grid is to be filled.
[[nodiscard]] bool ConfirmGridFill(int recCount);

// The graph command's load: every reading of the last hours of sensorId up to now, counted
// in serial days from now, without the row limit; a second channel taken only when it is
// above 0. Outcome Failed (with the reason) when the load failed.
LoadResult LoadRecentData(LogData &data, const QString &sensorId, int hours);

} // namespace clarow
