#pragma once

#include "views/LogData.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QPointF>
#include <QString>

#include <array>

namespace clarow {

struct Settings;

// The most points one drawing hands to the chart.
inline constexpr int kMaxGraphPoints = 8192;

// The second channel of a sensor as the graph names it (its type's second-channel name and
// graph unit: "Humidity" "%"); empty without one.
struct Ch2Channel
{
    bool present = false;
    QString name;
    QString unit;
};
[[nodiscard]] Ch2Channel GraphChannelOf(const QString &sensorId);

// The value axis widened to whole steps: below 10 to the next whole number, else to the next
// multiple of 10 (30 stays 30, 30.02 becomes 40); a negative bottom to the next multiple of
// 10 below, any other bottom to 0.
struct AxisRange
{
    double lo = 0;
    double hi = 0;
};
[[nodiscard]] AxisRange WholeStepRange(double lo, double hi);

// True when the locale writes the month before the day in its short date form.
[[nodiscard]] bool MonthFirst(const QLocale &locale = QLocale());

// The time axis's title and its label format (a QDateTime pattern) for readings from first
// to last: one day, a few days, within a month, within a year, or longer.
struct TimeAxisText
{
    QString title;
    QString format;
};
[[nodiscard]] TimeAxisText TimeAxisFor(const QDateTime &first, const QDateTime &last,
                                       const QString &dateFormat, bool monthFirst,
                                       const QLocale &locale = QLocale());

// Everything one drawing of the graph shows, worked out from the loaded readings, the hide
// flags and the settings.
struct GraphPlan
{
    enum Series { Temp, TempLo, TempHi, Ch2, Ch2Lo, Ch2Hi, SeriesCount };
    struct Line
    {
        QString label;
        qint32 colour = 0; // 0xBBGGRR
        bool shown = false;
        QList<QPointF> points; // x: milliseconds since the epoch
    };

    Ch2Channel channel;
    bool neitherSelected = false; // both plots switched off: nothing is drawn
    bool truncated = false;       // more readings than the chart takes
    int pointCount = 0;
    int seriesCount = 3;

    // The check boxes.
    bool plotChecked = true;
    bool alarmChecked = true;
    bool alarmEnabled = true;
    bool ch2Enabled = false;
    bool ch2PlotChecked = false;
    bool ch2LimitsChecked = false;
    bool ch2LimitsEnabled = false;
    QString ch2PlotCaption;
    QString ch2LimitsCaption;

    float lineLo = 0;
    float lineHi = 0;
    AxisRange range;
    QDateTime first;
    QDateTime last;
    TimeAxisText timeAxis;
    QString header;
    QString footer;
    QString yTitle;
    QString y2Title;
    std::array<Line, SeriesCount> lines;
};

// Plans a drawing of data for sensorId. A sensor without a second channel always shows its
// temperature, so that flag is cleared in flags. Needs at least one reading.
[[nodiscard]] GraphPlan PlanGraph(const LogData &data, const QString &sensorId, ViewFlags &flags,
                                  const Settings &settings, bool monthFirst,
                                  const QLocale &locale = QLocale());

// "Please select either Temperature or " CR name " to display."
[[nodiscard]] QString NeitherPlotText(const QString &name);

} // namespace clarow
