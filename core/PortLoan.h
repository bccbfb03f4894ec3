#pragma once

#include <QObject>

#include <functional>

namespace clarow {

// The one serial port has one user at a time. The scan cycle marks it busy for the whole of
// its exchange; a window borrows it between two scans (the port test of the Options dialog,
// the firmware transfer), and the start-up's search of the ports borrows it as well. While it
// is lent nothing else opens, closes or writes it: no scan starts, no other window's exchange
// starts, and a window closing leaves it alone. A scan that falls due meanwhile is made up as
// soon as the port comes back.
//
// Everything runs on the one GUI thread, and the waits of an exchange let events run: a button
// handler may be called from inside another exchange's pause. Such a handler must not wait
// for that exchange (it cannot end before the handler returns), so it hands its work to
// WhenPortFree, which runs it at once when the port is free and otherwise again from the event
// loop a little later.

// True while a scan's exchange uses the port.
[[nodiscard]] bool PortBusy();
// True while a window has borrowed the port, or a firmware transfer runs.
[[nodiscard]] bool PortLent();
// True while anyone uses the port: a scan, or a borrower.
[[nodiscard]] bool PortInUse();
// True while the port is held for an exchange that lasts long (a firmware transfer, the
// search of all ports): a second borrower is told the adapter is busy rather than kept waiting.
[[nodiscard]] bool PortHeldLong();

// What a window says when it may not have the port now.
inline constexpr const char *kAdapterBusyText = "The adapter is busy";

// Marks the port busy for as long as it lives (the scan cycle).
class PortUse
{
public:
    PortUse();
    ~PortUse();
    PortUse(const PortUse &) = delete;
    PortUse &operator=(const PortUse &) = delete;

private:
    bool m_old;
};

// Keeps scans and other borrowers off the port for as long as it lives. Take it only when
// PortInUse() is false, which WhenPortFree guarantees.
class PortLoan
{
public:
    enum Length { Short, Long };
    explicit PortLoan(Length length = Short);
    ~PortLoan();
    PortLoan(const PortLoan &) = delete;
    PortLoan &operator=(const PortLoan &) = delete;

private:
    Length m_length;
};

// Runs work (which takes a PortLoan for its exchange) now if nobody uses the port, else as
// soon as the scan or exchange holding it is over. When busy is given and the port is held
// for a long exchange (PortHeldLong), busy runs instead of waiting. Nothing runs once context
// is gone or the program is closing. Returns true when the work ran at once.
bool WhenPortFree(QObject *context, std::function<void()> work, std::function<void()> busy = {});

} // namespace clarow
