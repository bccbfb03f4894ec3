#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

namespace clarow::test {

// Lets the program run (its events, timers and scans) until the condition holds or the time
// is up; true when it holds.
inline bool RunUntil(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (done())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return done();
}

} // namespace clarow::test
