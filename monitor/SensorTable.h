#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace clarow {

struct SensorLine;

// Stores one decoded reading in the sensor's row of Sensors, creating the row with the
// default location and limits when the sensor is new. lastGoodRead becomes LastR. Errors are
// logged ("Error updating sensors: ") when LogErrors is on, and the update goes on.
void UpdateSensor(const QString &id, float temperature, float ch2, quint8 water,
                  const QDateTime &lastGoodRead);

// Appends the history row of one decoded line to LogTbl, dated `at`. Throws ClarowError when
// the row cannot be written.
void AppendHistory(const SensorLine &line, const QDateTime &at);

// Recomputes Connected, AlType and InAlarm of every sensor and counts consecutive scans
// towards a mail; sets mailPending when a mail is due (never clears it).
void EvaluateSensors(bool &mailPending);

// The alarm type (AlType) of one sensor's row judged as the scan judges it, against the
// limits and water choice the row holds now and with the connection the last scan found: a
// sensor answering then is judged on its last readings, one not answering stays disconnected
// for two hours after its last reading. Nothing when the sensor has no row. Throws
// ClarowError when the row cannot be read.
[[nodiscard]] std::optional<int> CurrentAlarmType(const QString &id);

} // namespace clarow
