#pragma once

#include <QDateTime>

namespace clarow {

// Where the programs take the time from and how they wait. The real clock reads the
// system time and sleeps; tests put a virtual clock in its place so that time-outs,
// retries and schedules run in virtual time.
class Clock
{
public:
    virtual ~Clock() = default;
    // Local wall-clock time of the running process.
    [[nodiscard]] virtual QDateTime now() const = 0;
    // A steadily rising count of milliseconds, for measuring elapsed time across midnight
    // or a change of the system time.
    [[nodiscard]] virtual qint64 elapsedMs() const = 0;
    virtual void sleepMs(int ms) = 0;
};

class SystemClock final : public Clock
{
public:
    [[nodiscard]] QDateTime now() const override;
    [[nodiscard]] qint64 elapsedMs() const override;
    void sleepMs(int ms) override;
};

// The clock in use; the system clock unless a test installed another.
Clock &clock();
// Installs a clock (not owned); nullptr brings back the system clock.
void setClock(Clock *c);

// Sleeps for the given seconds, rounded to whole milliseconds, then lets pending events
// run once, so the windows keep repainting during an adapter exchange.
void Pause(double seconds);

// Now, and now cut to whole seconds (what is stored, logged and shown).
[[nodiscard]] QDateTime Now();
[[nodiscard]] QDateTime NowWholeSeconds();

// Serial day numbers: days since 30 December 1899, the time of day as the fraction,
// read off the local date and time fields.
[[nodiscard]] double ToSerial(const QDateTime &t);
[[nodiscard]] QDateTime FromSerial(double serial);
// The zero date-time (serial 0, 30 December 1899 00:00).
[[nodiscard]] QDateTime ZeroDate();
[[nodiscard]] bool IsZeroDate(const QDateTime &t);

} // namespace clarow
