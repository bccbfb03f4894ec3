#pragma once

#include <QObject>

#include <functional>

namespace clarow {

// The one serial port is shared by the scan cycle and by the windows that talk to the adapter
// on their own (the port test of the Options dialog, the firmware transfer). A scan marks the
// port busy for the whole of its exchange; a window borrows the port between two scans, and no
// scan starts while it is lent. A scan that falls due meanwhile is made up as soon as the port
// comes back.
//
// Everything runs on the one GUI thread, and the waits of an exchange let events run: a button
// handler may be called from inside a scan's pause. Such a handler must not wait for the scan
// (the scan cannot end before the handler returns), so it hands its work to WhenPortFree, which
// runs it at once when the port is free and otherwise again from the event loop a little later.

// True while a scan's exchange uses the port.
[[nodiscard]] bool PortBusy();
// True while a window has borrowed the port, or a firmware transfer runs.
[[nodiscard]] bool PortLent();

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

// Keeps scans off the port for as long as it lives. Take it only when PortBusy() is false,
// which WhenPortFree guarantees.
class PortLoan
{
public:
    PortLoan();
    ~PortLoan();
    PortLoan(const PortLoan &) = delete;
    PortLoan &operator=(const PortLoan &) = delete;
};

// Runs work (which takes a PortLoan for its exchange) now if no scan uses the port, else as soon
// as the running scan is over. Nothing runs once context is gone or the program is closing.
// Returns true when the work ran at once.
bool WhenPortFree(QObject *context, std::function<void()> work);

} // namespace clarow
