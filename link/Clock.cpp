#include "link/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cmath>

namespace clarow {

namespace {
const QDate kEpoch(1899, 12, 30);
Clock *g_clock = nullptr;

QElapsedTimer &steady()
{
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t;
}
} // namespace

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

qint64 SystemClock::elapsedMs() const { return steady().elapsed(); }

void SystemClock::sleepMs(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

Clock &clock()
{
    static SystemClock system;
    return g_clock ? *g_clock : system;
}

void setClock(Clock *c) { g_clock = c; }

void Pause(double seconds)
{
    const auto ms = static_cast<int>(std::lround(seconds * 1000.0));
    clock().sleepMs(ms);
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

QDateTime Now() { return clock().now(); }

QDateTime NowWholeSeconds()
{
    QDateTime t = clock().now();
    const QTime tm = t.time();
    t.setTime(QTime(tm.hour(), tm.minute(), tm.second()));
    return t;
}

double ToSerial(const QDateTime &t)
{
    if (!t.isValid())
        return 0.0;
    const double days = static_cast<double>(kEpoch.daysTo(t.date()));
    const double frac = t.time().msecsSinceStartOfDay() / 86400000.0;
    // Before the epoch the fraction still counts forward from the day's start, as the
    // serial form has it: -1.25 is 29 December 1899, 06:00.
    return days < 0 ? days - frac : days + frac;
}

QDateTime FromSerial(double serial)
{
    double whole = std::trunc(serial);
    double frac = std::fabs(serial - whole);
    qint64 ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        whole += serial < 0 ? -1 : 1;
    }
    return QDateTime(kEpoch.addDays(static_cast<qint64>(whole)),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

QDateTime ZeroDate() { return QDateTime(kEpoch, QTime(0, 0)); }

bool IsZeroDate(const QDateTime &t) { return !t.isValid() || t == ZeroDate(); }

} // namespace clarow
