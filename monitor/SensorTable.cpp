#include "monitor/SensorTable.h"

#include "monitor/Decoder.h"

namespace clarow {

void UpdateSensor(const QString &, float, float, quint8, const QDateTime &) {}
void AppendHistory(const SensorLine &, const QDateTime &) {}
void EvaluateSensors(bool &) {}

} // namespace clarow
