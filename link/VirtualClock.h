#pragma once

#include "link/Clock.h"

#include <functional>

namespace clarow {

// A clock whose time moves only when someone sleeps on it or advances it. Sleeping also
// runs an optional hook, so a scripted peer can deliver data "while" the program waits.
class VirtualClock final : public Clock
{
public:
    explicit VirtualClock(QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(12, 0)))
        : m_now(std::move(start))
    {
    }

    [[nodiscard]] QDateTime now() const override { return m_now.addMSecs(0); }
    [[nodiscard]] qint64 elapsedMs() const override { return m_elapsed; }
    void sleepMs(int ms) override
    {
        advanceMs(ms);
        if (m_onSleep)
            m_onSleep();
    }

    void advanceMs(qint64 ms)
    {
        if (ms <= 0)
            return;
        m_now = m_now.addMSecs(ms);
        m_elapsed += ms;
    }
    void setNow(const QDateTime &t) { m_now = t; }
    void setOnSleep(std::function<void()> hook) { m_onSleep = std::move(hook); }

private:
    QDateTime m_now;
    qint64 m_elapsed = 0;
    std::function<void()> m_onSleep;
};

// Installs a clock for the lifetime of this object.
class ScopedClock
{
public:
    explicit ScopedClock(Clock &c) { setClock(&c); }
    ~ScopedClock() { setClock(nullptr); }
    ScopedClock(const ScopedClock &) = delete;
    ScopedClock &operator=(const ScopedClock &) = delete;
};

} // namespace clarow
