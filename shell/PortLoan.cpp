#include "shell/PortLoan.h"

#include "shell/Program.h"

#include <QPointer>
#include <QTimer>

namespace clarow {

namespace {
constexpr int kRetryMs = 100;
}

bool PortBusy() { return program().portBusy; }

bool PortLent() { return program().portLoans > 0 || program().upgrading; }

PortUse::PortUse() : m_old(program().portBusy) { program().portBusy = true; }

PortUse::~PortUse() { program().portBusy = m_old; }

PortLoan::PortLoan() { ++program().portLoans; }

PortLoan::~PortLoan() { --program().portLoans; }

bool WhenPortFree(QObject *context, std::function<void()> work)
{
    if (program().closing)
        return false;
    if (!PortBusy()) {
        work();
        return true;
    }
    QPointer<QObject> guard(context);
    QTimer::singleShot(kRetryMs, context, [guard, work = std::move(work)]() mutable {
        if (guard)
            WhenPortFree(guard, std::move(work));
    });
    return false;
}

} // namespace clarow
