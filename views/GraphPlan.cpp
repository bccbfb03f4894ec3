#include "views/GraphPlan.h"

#include "core/DateFormat.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"

#include <algorithm>
#include <cmath>

namespace clarow {

Ch2Channel GraphChannelOf(const QString &sensorId)
{
    const SensorKind &kind = KindOf(sensorId);
    if (!kind.hasCh2)
        return {};
    return {true, QString::fromLatin1(kind.channel2), QString::fromLatin1(kind.graphUnit)};
}

AxisRange WholeStepRange(double lo, double hi)
{
    AxisRange r;
    if (hi < 10)
        r.hi = std::floor(hi) + 1;
    else
        r.hi = (std::floor((hi - 0.01) / 10) + 1) * 10;
    if (lo < 0)
        r.lo = -(std::floor((-lo - 0.01) / 10) + 1) * 10;
    else
        r.lo = 0;
    return r;
}

bool MonthFirst(const QLocale &locale)
{
    return locale.toString(QDate(2000, 6, 10), QLocale::ShortFormat).startsWith(QLatin1Char('6'));
}

TimeAxisText TimeAxisFor(const QDateTime &first, const QDateTime &last, const QString &dateFormat,
                         bool monthFirst, const QLocale &locale)
{
    const double span = ToSerial(last) - ToSerial(first);
    auto fmt = [&locale](const QDateTime &t, const QString &f) { return FormatDate(t, f, locale); };
    const bool sameMonth = fmt(first, QStringLiteral("MM")) == fmt(last, QStringLiteral("MM"));
    const QString monthYear = fmt(last, QStringLiteral("MMMM, YYYY"));
    if (span <= 1 && first.date() == last.date())
        return {fmt(first, dateFormat), QStringLiteral("HH:mm")};
    if (span <= 3)
        return {fmt(first, dateFormat) + QStringLiteral(" to ") + fmt(last, dateFormat), QStringLiteral("HH:mm")};
    if (span <= 10 && sameMonth)
        return {monthYear, QStringLiteral("MMM dd, HH:mm")};
    if (span <= 31 && sameMonth)
        return {monthYear, QStringLiteral("dd")};
    if (fmt(first, QStringLiteral("YYYY")) == fmt(last, QStringLiteral("YYYY")))
        return {fmt(last, QStringLiteral("YYYY")), monthFirst ? QStringLiteral("MM/dd") : QStringLiteral("dd/MM")};
    return {QString(), monthFirst ? QStringLiteral("MM/dd/yy") : QStringLiteral("dd/MM/yy")};
}

QString NeitherPlotText(const QString &name)
{
    return QStringLiteral("Please select either Temperature or \r") + name + QStringLiteral(" to display.");
}

GraphPlan PlanGraph(const LogData &data, const QString &sensorId, ViewFlags &flags,
                    const Settings &settings, bool monthFirst, const QLocale &locale)
{
    GraphPlan g;
    g.channel = GraphChannelOf(sensorId);
    const Ch2Channel &ch = g.channel;
    g.seriesCount = ch.present && !flags.HideCh2Plot ? 6 : 3;
    if (!ch.present)
        flags.HideTempPlot = false;
    if (flags.HideTempPlot && flags.HideCh2Plot) {
        g.neitherSelected = true;
        return g;
    }

    g.plotChecked = !flags.HideTempPlot;
    g.alarmChecked = !flags.HideTempLimits;
    g.ch2Enabled = ch.present;
    g.ch2PlotChecked = ch.present && !flags.HideCh2Plot;
    g.ch2LimitsChecked = ch.present && !flags.HideCh2Limits;
    if (ch.present) {
        g.ch2PlotCaption = ch.name + QStringLiteral(" plot");
        g.ch2LimitsCaption = ch.name + QStringLiteral(" limits");
    }

    const bool tempPlotted = !flags.HideTempPlot;
    const bool ch2Plotted = ch.present && !flags.HideCh2Plot;
    if (flags.HideTempPlot) {
        g.lineLo = flags.HideCh2Limits ? 0.0f : data.Ch2Lo;
        g.lineHi = flags.HideCh2Limits ? 0.0f : data.Ch2Hi;
    } else if (flags.HideTempLimits) {
        g.lineLo = g.lineHi = 0;
    } else {
        g.lineLo = data.TempLo;
        g.lineHi = data.TempHi;
    }
    double lo = g.lineLo;
    double hi = g.lineHi;
    if (ch2Plotted && !flags.HideCh2Limits)
        hi = std::max(hi, static_cast<double>(data.Ch2Hi));

    const int available = std::min<int>(data.RecCount, static_cast<int>(data.Points.size()));
    g.truncated = available > kMaxGraphPoints;
    g.pointCount = std::min(available, kMaxGraphPoints);
    const int n = g.pointCount;
    if (n == 0)
        return g;

    for (int i = 0; i < n; ++i) {
        const LogPoint &p = data.Points[static_cast<size_t>(i)];
        if (tempPlotted) {
            lo = std::min(lo, static_cast<double>(p.Temp));
            hi = std::max(hi, static_cast<double>(p.Temp));
        }
        if (ch2Plotted) {
            lo = std::min(lo, static_cast<double>(p.Ch2));
            hi = std::max(hi, static_cast<double>(p.Ch2));
        }
    }
    g.range = WholeStepRange(lo, hi);

    g.first = FromSerial(data.Points.front().Time);
    g.last = FromSerial(data.Points[static_cast<size_t>(n - 1)].Time);
    g.timeAxis = TimeAxisFor(g.first, g.last, settings.DateFormat, monthFirst, locale);

    const QString scaleTitle = QStringLiteral("Temperature (\u00B0") + settings.CorF + QLatin1Char(')');
    const QString ch2Title = ch.name + QLatin1Char(' ') + ch.unit;
    g.header = settings.LocationName;
    g.footer = QStringLiteral("Sensor: ") + sensorId + QStringLiteral("\r\nLocation: ") + data.Location;
    g.yTitle = flags.HideTempPlot ? ch2Title : scaleTitle;
    g.y2Title = tempPlotted && ch2Plotted ? ch2Title : QString();

    auto &L = g.lines;
    L[GraphPlan::Temp] = {QStringLiteral("Temperature"), settings.ColGrTp, tempPlotted, {}};
    L[GraphPlan::TempLo] = {QStringLiteral("Low temp. limit"), settings.ColGrTl, tempPlotted && !flags.HideTempLimits, {}};
    L[GraphPlan::TempHi] = {QStringLiteral("High temp. limit"), settings.ColGrTh, tempPlotted && !flags.HideTempLimits, {}};
    L[GraphPlan::Ch2] = {ch.name + QStringLiteral(" level"), settings.ColGrCp, ch2Plotted, {}};
    L[GraphPlan::Ch2Lo] = {QStringLiteral("Low ") + ch.name + QStringLiteral(" limit"), settings.ColGrCl,
                           ch2Plotted && !flags.HideCh2Limits, {}};
    L[GraphPlan::Ch2Hi] = {QStringLiteral("High ") + ch.name + QStringLiteral(" limit"), settings.ColGrCh,
                           ch2Plotted && !flags.HideCh2Limits, {}};
    g.alarmEnabled = tempPlotted;
    g.ch2LimitsEnabled = ch2Plotted;

    // The readings as they are; a limit is a flat line from the first reading to the last.
    const double x0 = static_cast<double>(g.first.toMSecsSinceEpoch());
    const double x1 = static_cast<double>(g.last.toMSecsSinceEpoch());
    auto flat = [x0, x1](double y) { return QList<QPointF>{{x0, y}, {x1, y}}; };
    L[GraphPlan::Temp].points.reserve(n);
    if (g.seriesCount == 6)
        L[GraphPlan::Ch2].points.reserve(n);
    for (int i = 0; i < n; ++i) {
        const LogPoint &p = data.Points[static_cast<size_t>(i)];
        const double x = static_cast<double>(FromSerial(p.Time).toMSecsSinceEpoch());
        L[GraphPlan::Temp].points.append({x, p.Temp});
        if (g.seriesCount == 6)
            L[GraphPlan::Ch2].points.append({x, p.Ch2});
    }
    L[GraphPlan::TempLo].points = flat(g.lineLo);
    L[GraphPlan::TempHi].points = flat(g.lineHi);
    if (g.seriesCount == 6) {
        L[GraphPlan::Ch2Lo].points = flat(data.Ch2Lo);
        L[GraphPlan::Ch2Hi].points = flat(data.Ch2Hi);
    }
    return g;
}

} // namespace clarow
