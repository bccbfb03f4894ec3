#pragma once

#include "link/TypeCodes.h"

#include <QString>

#include <optional>

namespace clarow {

// A sensor's stored name, limits and water choice as the sensor options window shows them;
// an empty column is an empty text.
struct SensorValues
{
    QString location;
    QString tempLo;
    QString tempHi;
    QString ch2Lo;
    QString ch2Hi;
    std::optional<int> aWtDr; // 1 alarm if wet, 2 alarm if dry
};
// The row of Sensors whose SensorID is exactly sensorId; nothing when there is none.
[[nodiscard]] std::optional<SensorValues> LoadSensor(const QString &sensorId);

// What the operator typed, and the water choice when it was offered.
struct SensorEdits
{
    QString location;
    QString tempLo;
    QString tempHi;
    QString ch2Lo;
    QString ch2Hi;
    std::optional<bool> alarmIfDry; // empty when the water choice was not offered
};

// Stores the edits into the sensor's row and judges its alarm again as the scan does: its
// last readings against the new limits and water choice, and a disconnected sensor stays
// disconnected. A limit that is not a number, a locked or missing row: the row stays as it
// was and the save is tried again after half a second, six times in all. True when the row
// was updated; otherwise `failure`, when given, says why the last attempt failed.
bool SaveSensor(const QString &sensorId, const SensorEdits &edits, QString *failure = nullptr);

// Deletes the sensor's row of Sensors; its history stays. True when a row went.
bool DeleteSensor(const QString &sensorId);

} // namespace clarow
