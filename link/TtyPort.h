#pragma once

#include "link/SerialPort.h"

#include <QString>

#include <memory>

namespace clarow {

#ifdef Q_OS_UNIX
// The serial device opened directly, without QSerialPort. QSerialPort refuses a device whose
// lock file it cannot write (a stale lock of another user, a read-only lock folder); when no
// running program holds that lock, the device is opened this way instead, so that such a file
// does not keep the adapter away. Raw 8-bit line at the adapter's speed, DTR and RTS raised,
// the line kept to this program while it is open, as QSerialPort does.
[[nodiscard]] std::unique_ptr<SerialPort> MakeTtyPort();

// True when a lock file of the device ("LCK..name" in one of the usual lock folders) names a
// process that is still running: then another program really uses the port. A lock file that
// cannot be read or names a dead process says nothing.
[[nodiscard]] bool TtyLockedByLiveProcess(const QString &device);

// When the device is there but this user may not read and write it: the group that grants
// access (the device's own, or dialout when it belongs to root). Empty otherwise.
[[nodiscard]] QString TtyAccessGroup(const QString &device);
#endif

} // namespace clarow
