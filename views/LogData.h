#pragma once

#include "views/SensorKind.h"

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
// belongs to the selected sensor as it stood at the last load.
struct LogData
{
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

// The second channel's name in the grid and the limit caption: "Humidity", "Voltage",
// "Light", "Current"; empty without one.
[[nodiscard]] QString Ch2Name(const QString &type);

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
};

// Loads into data the readings of sensorId with from <= time <= to, both bounds as serial day
// numbers written as query text; at most maxRows of them (the oldest), with the "Limit
// exceeded" message when there are more. Uses a read-only connection of its own to the program's database file.
LoadResult LoadLogData(LogData &data, const QString &sensorId, const QDateTime &from,
                       const QDateTime &to);

// LoadLogData for a reader on a thread of its own: through db, a connection that thread opened,
// and without the message box; truncated (when given) tells that the range held more than
// kMaxLogRows readings and only the oldest kMaxLogRows were taken.
LoadResult LoadLogDataOn(const QSqlDatabase &db, LogData &data, const QString &sensorId,
                         const QDateTime &from, const QDateTime &to, bool *truncated = nullptr);

// Asks "Confirm load" when more than kConfirmRows readings would fill the grid; true when the
// grid is to be filled.
[[nodiscard]] bool ConfirmGridFill(int recCount);

// The graph command's load: every reading of the last hours of sensorId, without the row
// limit; a second channel taken only when it is above 0. False when the load failed.
bool LoadRecentData(LogData &data, const QString &sensorId, int hours);

} // namespace clarow
