#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <vector>

namespace clarow {

// The program's date and time formats: the named forms "General Date", "Long Date",
// "Medium Date", "Short Date", "Long Time", "Medium Time" and "Short Time" (the desktop's own
// forms, taken from the locale), or a custom pattern. Custom patterns ignore letter case:
// d dd ddd dddd (day, weekday names), m mm mmm mmmm (month; minutes right after an hour or
// right before seconds), y (day of the year), yy yyyy, h hh (hours, 12-hour when the pattern
// holds a marker), n nn (minutes), s ss, q (quarter), the markers AM/PM am/pm A/P a/p AMPM;
// text in double quotes and a character after a backslash are copied as they are, and so is
// every other character.
class DateFormatter
{
public:
    explicit DateFormatter(const QString &format, const QLocale &locale = QLocale());
    [[nodiscard]] QString format(const QDateTime &t) const { return format(t.date(), t.time()); }
    [[nodiscard]] QString format(const QDate &d, const QTime &t) const;
    // A serial day number (days since 30 December 1899, the time of day as the fraction).
    [[nodiscard]] QString format(double serial) const;
    // The same texts appended to out, for callers that write many of them into one text.
    void appendTo(QString &out, const QDate &d, const QTime &t) const;
    void appendTo(QString &out, double serial) const;

private:
    enum class Kind {
        Literal, Day, Day2, DayShort, DayLong, Month, Month2, MonthShort, MonthLong, DayOfYear,
        Year2, Year4, Hour, Hour2, Minute, Minute2, Second, Second2, Quarter, Marker,
        NamedDate, NamedTime, General,
    };
    struct Token
    {
        Kind kind;
        QString text; // the literal, the marker as written, or the locale pattern of a named form
    };
    void parse(const QString &format);

    QLocale m_locale;
    // The locale's names, looked up once: a log of thousands of rows writes them often.
    QStringList m_monthShort, m_monthLong, m_dayShort, m_dayLong;
    std::vector<Token> m_tokens;
    bool m_twelveHour = false;
    bool m_splitsDate = false; // a token writes the day, month or year on its own
};

// t written in the given format (see DateFormatter).
[[nodiscard]] QString FormatDate(const QDateTime &t, const QString &format,
                                 const QLocale &locale = QLocale());

} // namespace clarow
