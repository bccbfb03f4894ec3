#include "core/DateFormat.h"

#include <gtest/gtest.h>

#include <limits>

using namespace clarow;

TEST(DateFormat, NamedFormsAndCustomPatterns)
{
    const QLocale gb(QLocale::English, QLocale::UnitedKingdom);
    const QDateTime evening(QDate(2026, 12, 6), QTime(21, 5, 7));
    const QDateTime night(QDate(2026, 12, 6), QTime(0, 30, 0));
    struct Case
    {
        const char *format;
        QDateTime at;
        const char *want;
    } cases[] = {
        {"dd/MMM/yyyy", evening, "06/Dec/2026"},
        {"DD/mm/YYYY", evening, "06/12/2026"},
        {"hh:mm am/pm", evening, "09:05 pm"},
        {"hh:mm AM/PM", night, "12:30 AM"},
        {"HH:mm", evening, "21:05"},
        {"h:nn:ss A/P", evening, "9:05:07 P"},
        {"MMMM, YYYY", evening, "December, 2026"},
        {"dddd d mmm yy", evening, "Sunday 6 Dec 26"},
        {"yyyy MM dd", evening, "2026 12 06"},
        {"mm:ss", evening, "05:07"},
        {"\"Day\" d\\h", evening, "Day 6h"},
        {"Short Time", evening, "21:05"},
        {"Short Date", evening, "06/12/2026"},
        {"General Date", QDateTime(QDate(2026, 12, 6), QTime(0, 0)), "06/12/2026"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FormatDate(c.at, QLatin1String(c.format), gb), QLatin1String(c.want)) << c.format;
    // A serial day number gives the same text as its date and time.
    const DateFormatter f(QStringLiteral("dd/mm/yyyy hh:nn:ss"), gb);
    EXPECT_EQ(f.format(46362.87855324074), f.format(evening));
}

// A sensor never read (no time stored) or a damaged history time: the names of an invalid
// date are empty and a serial beyond any calendar gives no text, instead of a crash.
TEST(DateFormat, InvalidDatesAndSerialsBeyondTheCalendar)
{
    const QLocale gb(QLocale::English, QLocale::UnitedKingdom);
    const DateFormatter names(QStringLiteral("ddd dddd mmm mmmm"), gb);
    EXPECT_EQ(names.format(QDateTime()), QStringLiteral("   "));
    for (const double serial : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity()})
        EXPECT_EQ(names.format(serial), QString()) << serial;
}
