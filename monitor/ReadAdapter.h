#pragma once

#include "link/Clock.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace clarow {

class SerialPort;

// Where an exchange reports its progress ("Scanning", "Reading successful", ...).
using StatusSink = std::function<void(const QString &)>;

// How a reading exchange ended.
enum class ReadStatus {
    Complete,   // sensor lines ended by "EOD"
    NoSensors,  // the adapter answered "?01": nothing on its bus
    ErrorReply, // the reply held an error mark ("?")
    TimedOut,   // the reply stopped (or never began) without "EOD", or passed a limit
    PortFailed, // the port could not be opened, or the exchange stopped on a fault
};

struct ReadResult
{
    ReadStatus status = ReadStatus::PortFailed;
    // The raw reply of the last attempt that reached the adapter: complete, partial or empty
    // (empty after "?01").
    QString reply;
    // When the complete reading arrived, to the whole second; the zero date-time otherwise.
    QDateTime readAt = ZeroDate();
};

// One attempt: opens the port, sends "D" and collects the reply until "EOD", "?01", an error
// reply or a time-out. A reply that does not end within 40 seconds of the command, or grows
// past 64 K characters, ends the attempt as a time-out does, noted in the diagnostic log when
// errors are logged. Shows "Reading successful", "No sensors connected" or "Scan timed out."
// as it ends; shows nothing for a failed port or error reply. Leaves the port open.
[[nodiscard]] ReadResult ReadAdapterOnce(SerialPort &port, int portNumber, bool logComms,
                                         const StatusSink &status);

// The reading exchange: attempts as above, up to three for a failed port or an error reply
// ("Scan failed, retrying.", then "Scan failed."), and closes the port. An exception raised
// within it ends the exchange as a failed port: it is written out as a warning and, when
// errors are logged, to the diagnostic log.
[[nodiscard]] ReadResult ReadAdapter(SerialPort &port, int portNumber, bool logComms,
                                     const StatusSink &status);

} // namespace clarow
