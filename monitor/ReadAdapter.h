#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace clarow {

class SerialPort;

// Where an exchange reports its progress ("Scanning", "Reading successful", ...).
using StatusSink = std::function<void(const QString &)>;

// The reading exchange: opens the port, sends "D", collects the reply until "EOD", an error
// reply or a time-out, retries a failed port or error reply up to three attempts, and closes
// the port. A reply that does not end within 40 seconds of the command, or grows past 64 K
// characters, ends the exchange as a time-out does, noted in the diagnostic log when errors are
// logged. Leaves the raw reply (complete, partial or empty) in rxBuffer. Returns the time
// of a complete reading (also stored in lastGoodRead), or the zero date-time. Never throws.
QDateTime ReadAdapter(SerialPort &port, int portNumber, bool logComms, QString &rxBuffer,
                      QDateTime &lastGoodRead, const StatusSink &status);

} // namespace clarow
