#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace clarow {

// The adapter's line: "9600,N,8,1", DTR and RTS asserted, no flow control, text exchanged
// as 8-bit characters (Latin-1), a receive buffer of 4096 characters.
inline constexpr int kBaudRate = 9600;
inline constexpr int kReceiveBufferSize = 4096;
inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;

// One serial port, selected by its port number (1 to 16). Opened and closed inside each
// exchange with the adapter; never left open between exchanges.
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    virtual void setPortNumber(int number) = 0;
    [[nodiscard]] virtual int portNumber() const = 0;

    // Opens the selected port with the adapter's line settings, DTR and RTS on.
    // False when the port is absent or in use.
    virtual bool open() = 0;
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;

    // Drops every character received and not yet read.
    virtual void discard() = 0;
    // How many received characters wait to be read.
    [[nodiscard]] virtual int bytesWaiting() = 0;
    // Reads every waiting character, as Latin-1 text.
    virtual QString readAll() = 0;
    // Writes the bare characters of a command, as Latin-1 text.
    virtual bool write(const QString &text) = 0;
    // Why the last open failed, in the system's words (empty when unknown).
    [[nodiscard]] virtual QString errorText() const { return {}; }
};

// The devices that the program's settings give port numbers: the text for number N, "" when
// the settings leave it to the default. The link reads no settings of its own: each program
// hands its lookup in at start-up. It is asked at each open, so that a device set while the
// program runs counts from the next exchange on.
using PortMap = std::function<QString(int number)>;
void SetPortMap(PortMap map);

// The device that port number N stands for: (not on Windows) the text of environment
// variable VARNEX_PORT_N when it is set; else the port map's text for N, trimmed, when it is
// not empty; else COMN on Windows and /dev/ttyUSB{N-1} elsewhere. A device text
// "tcp://HOST:PORT" names an adapter behind a serial-to-network bridge.
[[nodiscard]] QString PortDeviceName(int number);

// When the device of port number N is there but this user may not open it: what to do
// about it, naming the group that grants access (dialout on Debian). Empty otherwise.
[[nodiscard]] QString PortAccessProblem(int number);

// The real port: on a TCP connection when the device is "tcp://...", else on QSerialPort (or
// the device opened directly when only a stale lock file keeps QSerialPort from it).
[[nodiscard]] std::unique_ptr<SerialPort> MakeSerialPort();

// True when the port can be opened and closed again. Leaves the port closed.
bool TestPort(SerialPort &port, int number);

} // namespace clarow
