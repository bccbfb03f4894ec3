#pragma once

#include <QString>

namespace clarow {

// What a sensor's identifier says about the values it reports and the limits it can have.
struct SensorKind
{
    QString type;          // the last two characters of the identifier
    bool hasCh2 = false;   // a multi-sensor with a measured second channel
    bool hasWater = false; // a multi-sensor with a water-leak tape
    QString ch2Caption;    // what the second channel measures ("Humidity", "AC Current", ...)
};
[[nodiscard]] SensorKind KindOf(const QString &sensorId);

} // namespace clarow
