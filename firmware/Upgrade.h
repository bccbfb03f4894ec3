#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace clarow {

class SerialPort;

// The firmware version this program expects of the adapter.
inline constexpr const char *kExpectedFirmware = "Varnex V1.0h";

inline constexpr const char *kUpgradeFailedText
    = "An error was encountered upgrading the Varnex Firmware.";
// "Varnex firmware update successfully upgraded to Varnex V1.0h."
[[nodiscard]] QString UpgradeSucceededText();
// What the upgrade window says when it opens, lines separated by carriage returns.
[[nodiscard]] QString UpgradeOfferText();
inline constexpr const char *kUpgradeNoteText
    = "Upgrading of the firmware will take between 30 and 60 seconds. Do not unplug the Varnex or "
      "turn off the computer during this process.";

// Sets up and opens the port for a firmware transfer, on the port number of the settings:
// closed first if open, then opened with the adapter's line settings and the receive buffer
// emptied. Left alone while a transfer runs. A port that does not open is reported with the
// system's reason ("Error opening COM port"); the transfer then fails at its handshake.
void oPort(SerialPort &port);

// The records of the image built into the program, in file order.
[[nodiscard]] QStringList LoadCode();

// True when the loader's answer to the handshake says it is ready: at least 3 characters,
// holding "L10" in any letter case.
[[nodiscard]] bool LoaderReady(const QString &reply);

// Sends a firmware image to the adapter's loader on the open port and restarts the adapter.
// progress is called with each record's number before it is looked at. Every record the
// loader is sent must be acknowledged (five attempts of a second each): a record that is not
// stops the transfer, because an image with a gap would leave the adapter with broken
// firmware. Shows the success or the failure message, sets AdapterOK on success, and closes
// the port. The program closing down cuts the transfer short (a failure).
// Runs with the program-wide Upgrading flag set; the caller clears it when it is done.
bool UpgradeVarnex(SerialPort &port, const QStringList &records,
    const std::function<void(int record)> &progress = {});

} // namespace clarow
