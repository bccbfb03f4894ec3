#pragma once

#include <QString>

#include <functional>

namespace clarow {

class SerialPort;

// What FindVarnex found.
enum VarnexFound : int {
    NoVarnex = 0,       // no adapter answered
    VarnexTooOld = 1,   // an adapter whose firmware needs an upgrade
    VarnexReady = 2,    // an adapter with suitable firmware
};

// Looks for the adapter with its identification probe, starting at port PortNumber and,
// unless singlePort or SuppressScan is set, going on through all 16 ports (16 is followed by
// 1). An adapter found on another port moves PortNumber there and stores it at once. Calls
// trying, when given, with each port before it is probed. Leaves the port closed.
int FindVarnex(SerialPort &port, bool singlePort,
               const std::function<void(int port)> &trying = {});

// Why the adapter search may have found nothing: the first port it looks at whose device is
// there but may not be opened by this user, explained (empty when there is none).
[[nodiscard]] QString PortAccessProblems();

// The message for an adapter search that found nothing: the port-access explanation when a
// device may not be opened, else "The Varnex was not found. ..." asking for a port test.
[[nodiscard]] QString VarnexNotFoundText();

// The verdict on an identification reply ("Varnex V1.0h"), already cut at its first
// carriage return: VarnexReady for revision "H" or later of version 1.0 or later, else
// VarnexTooOld.
[[nodiscard]] int FirmwareVerdict(const QString &reply);

} // namespace clarow
