#include "monitor/Decoder.h"

namespace clarow {

void DecodeReply(const QString &, const QString &, const std::function<void(const SensorLine &)> &) {}

} // namespace clarow
