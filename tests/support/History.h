#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace clarow::test {

// Writes straight into a program folder's database file, as the scan cycle would have: one
// Sensors row, and history rows.
struct SensorRow
{
    QString id;
    QString location = QStringLiteral("Cold store");
    double tempLo = 2;
    double tempHi = 8;
    double ch2Lo = 20;
    double ch2Hi = 60;
};
void AddSensor(const QString &databasePath, const SensorRow &row);

// count readings of sensorId from start, one every stepSeconds; reading i has temperature
// temp(i), second channel ch2(i) and water status 0 (when ch2 is empty the column stays
// empty). One transaction.
void AddReadings(const QString &databasePath, const QString &sensorId, const QDateTime &start,
                 int count, int stepSeconds, const std::function<double(int)> &temp,
                 const std::function<double(int)> &ch2 = {});

} // namespace clarow::test
