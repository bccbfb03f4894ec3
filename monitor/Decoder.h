#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace clarow {

// One completed sensor line of a reading reply, decoded.
struct SensorLine
{
    QString id;             // 16 or 19 characters
    float temperature = 0;  // in the scale of setting CorF
    float ch2 = 0;          // second-channel value handed to the sensor table
    quint8 water = 0;       // water status handed to the sensor table
    bool update = true;     // false for a multi-sensor with an unlisted type code
    std::optional<float> logCh2;    // what the history row stores, empty when the
    std::optional<quint8> logWater; // column stays empty
};

// Walks a raw reply character by character and calls onLine for every completed line.
// Throws ClarowError when a field that must be a whole number is not one (or is too large);
// lines completed before that have already been handed on.
void DecodeReply(const QString &rxBuffer, const QString &corF,
                 const std::function<void(const SensorLine &)> &onLine);

} // namespace clarow
