#pragma once

#include "link/SerialPort.h"

#include <QString>

#include <memory>
#include <optional>

namespace clarow {

// An adapter behind a serial-to-network bridge (ser2net and the like), named by a port's
// device text "tcp://HOST:PORT" ("tcp://[::1]:PORT" for an IPv6 address). The bridge
// passes bytes both ways, so the exchanges are the same as on a serial line.
inline constexpr char kNetworkScheme[] = "tcp://";

// True when the device text names a network bridge rather than a serial device.
[[nodiscard]] bool IsNetworkDevice(const QString &device);

struct NetworkAddress
{
    QString host;
    quint16 port = 0;
};
// The host and TCP port of "tcp://HOST:PORT"; nothing when the text is not such a name.
[[nodiscard]] std::optional<NetworkAddress> ParseNetworkDevice(const QString &device);

// The port on a TCP connection. It connects when opened and disconnects when closed, so
// that every exchange starts on a fresh connection: a bridge that was restarted is reached
// again by the next exchange. A connection that cannot be made is a port that does not
// exist; a connection that drops leaves the port open but silent, as a cut-off line would.
[[nodiscard]] std::unique_ptr<SerialPort> MakeNetworkPort();

} // namespace clarow
