#pragma once

#include "views/LogData.h"

#include <QLocale>
#include <QString>

#include <memory>
#include <vector>

namespace clarow {

class DateFormatter;

// How the log grid is laid out for a kind of sensor. Lengths in twips.
struct LogGridLayout
{
    int leftTwips = 0;
    std::vector<int> columnTwips; // a width of 0 hides the column
};
[[nodiscard]] LogGridLayout GridLayoutFor(const SensorKind &kind);

inline constexpr int kLogHeaderTwips = 480;
inline constexpr int kLogRowTwips = 240;

// Heading of a grid column: "Date, time", "Temperature (°C)", the second channel's name,
// "Water".
[[nodiscard]] QString LogGridHeading(int column, const SensorKind &kind, const QString &scale);

// The texts of the grid over a copy of the loaded readings taken when the grid is filled;
// row 0 is the first reading shown (the newest when descending).
class LogGridText
{
public:
    LogGridText(const LogData &data, const SensorKind &kind, bool descending,
                const QString &dateFormat, const QString &timeFormat, const QLocale &locale = QLocale());
    ~LogGridText();
    [[nodiscard]] int rows() const { return m_rows; }
    [[nodiscard]] QString cell(int row, int column) const;

private:
    LogData m_data; // the readings the grid shows: a later load that is not shown leaves them
    SensorKind m_kind;
    bool m_descending;
    int m_rows;
    QLocale m_locale;
    std::unique_ptr<DateFormatter> m_date;
    std::unique_ptr<DateFormatter> m_time;
};

} // namespace clarow
