#include "link/Clock.h"
#include "link/VirtualClock.h"

#include <gtest/gtest.h>

using namespace clarow;

TEST(SerialDays, KnownDatesConvertBothWays)
{
    EXPECT_DOUBLE_EQ(ToSerial(ZeroDate()), 0.0);
    const QDateTime noon(QDate(2007, 5, 31), QTime(12, 0));
    EXPECT_DOUBLE_EQ(ToSerial(noon), 39233.5);
    EXPECT_EQ(FromSerial(39233.5), noon);
    const QDateTime t(QDate(2026, 12, 7), QTime(23, 59, 59));
    EXPECT_EQ(FromSerial(ToSerial(t)), t);
}

TEST(Pause, SleepsOnTheInstalledClockInWholeMilliseconds)
{
    VirtualClock vc;
    ScopedClock use(vc);
    const QDateTime start = Now();
    Pause(0.0504);
    EXPECT_EQ(start.msecsTo(Now()), 50);
    EXPECT_EQ(vc.elapsedMs(), 50);
}
