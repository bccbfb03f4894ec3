#include "views/LogGrid.h"

#include "core/DateFormat.h"
#include "link/Clock.h"
#include "views/LogExport.h"

namespace clarow {

LogGridLayout GridLayoutFor(const SensorKind &kind)
{
    if (kind.hasCh2 && kind.hasWater)
        return {450, {1950, 1950, 1500, 1500}};
    if (kind.hasWater)
        return {450, {2300, 2300, 0, 2300}};
    if (kind.hasCh2)
        return {450, {2300, 2300, 2300}};
    return {1600, {2300, 2300}};
}

QString LogGridHeading(int column, const SensorKind &kind, const QString &scale)
{
    switch (column) {
    case 0: return QStringLiteral("Date, time");
    case 1: return QStringLiteral("Temperature (\u00B0") + scale + QLatin1Char(')');
    case 2: return kind.hasCh2 ? QLatin1String(kind.channel2) : QString();
    case 3: return kind.hasWater ? QStringLiteral("Water") : QString();
    default: return {};
    }
}

LogGridText::LogGridText(const LogData &data, const SensorKind &kind, bool descending,
                         const QString &dateFormat, const QString &timeFormat, const QLocale &locale)
    : m_data(data)
    , m_kind(kind)
    , m_descending(descending)
    , m_rows(std::min<int>(data.RecCount, static_cast<int>(data.Points.size())))
    , m_locale(locale)
    , m_date(std::make_unique<DateFormatter>(dateFormat, locale))
    , m_time(std::make_unique<DateFormatter>(timeFormat, locale))
{
}

LogGridText::~LogGridText() = default;

QString LogGridText::cell(int row, int column) const
{
    if (row < 0 || row >= m_rows)
        return {};
    const int i = m_descending ? m_rows - 1 - row : row;
    const LogPoint &p = m_data.Points[static_cast<size_t>(i)];
    switch (column) {
    case 0: return m_date->format(p.Time) + QStringLiteral(", ") + m_time->format(p.Time);
    case 1: return PlainNumber(p.Temp, m_locale);
    case 2: return m_kind.hasCh2 ? PlainNumber(p.Ch2, m_locale) : QString();
    case 3:
        if (m_kind.hasWater && static_cast<size_t>(i) < m_data.WaterText.size())
            return m_data.WaterText[static_cast<size_t>(i)];
        return {};
    default: return {};
    }
}

} // namespace clarow
