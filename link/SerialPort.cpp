#include "link/SerialPort.h"

namespace clarow {

QString PortDeviceName(int number) { return QStringLiteral("/dev/ttyUSB%1").arg(number - 1); }
std::unique_ptr<SerialPort> MakeSerialPort() { return nullptr; }
bool TestPort(SerialPort &, int) { return false; }

} // namespace clarow
