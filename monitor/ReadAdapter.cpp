#include "monitor/ReadAdapter.h"

#include "link/Clock.h"

namespace clarow {

QDateTime ReadAdapter(SerialPort &, int, bool, QString &rxBuffer, QDateTime &, const StatusSink &)
{
    rxBuffer.clear();
    return ZeroDate();
}

} // namespace clarow
