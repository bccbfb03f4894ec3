#include "core/PortLoan.h"

#include "core/Program.h"

#include <QPointer>
#include <QTimer>

namespace clarow {

namespace {
constexpr int kRetryMs = 100;
}

bool PortBusy() { return program().portBusy; }

bool PortLent() { return program().portLoans > 0 || program().upgrading; }

bool PortInUse() { return PortBusy() || PortLent(); }

bool PortHeldLong() { return program().longPortLoans > 0 || program().upgrading; }

PortUse::PortUse() : m_old(program().portBusy) { program().portBusy = true; }

PortUse::~PortUse() { program().portBusy = m_old; }

PortLoan::PortLoan(Length length) : m_length(length)
{
    ++program().portLoans;
    if (m_length == Long)
        ++program().longPortLoans;
}

PortLoan::~PortLoan()
{
    --program().portLoans;
    if (m_length == Long)
        --program().longPortLoans;
}

bool WhenPortFree(QObject *context, std::function<void()> work, std::function<void()> busy)
{
    if (program().closing)
        return false;
    if (busy && PortHeldLong()) {
        busy();
        return false;
    }
    if (!PortInUse()) {
        work();
        return true;
    }
    QPointer<QObject> guard(context);
    QTimer::singleShot(kRetryMs, context,
        [guard, work = std::move(work), busy = std::move(busy)]() mutable {
            if (guard)
                WhenPortFree(guard, std::move(work), std::move(busy));
        });
    return false;
}

} // namespace clarow
