#pragma once

#include <QString>

#include <span>

namespace clarow {

inline constexpr const char *kMultiSensorFamily = "26";

// What a multi-sensor's second channel measures; the status grid has a column for each.
enum class Quantity { None, Humidity, Light, Voltage, Current };

// How a reading line carries the second channel in its last field: a whole number (humidity,
// light), hundredths (volts) or tenths (amps).
enum class Ch2Encoding { None, Whole, Hundredths, Tenths };

// The labels of the second channel's lines in an alarm or return mail, each padded to its
// width: the reading, and the high or low limit it passed.
struct MailLabels
{
    const char *current = "";
    int currentWidth = 0;
    const char *high = "";
    int highWidth = 0;
    const char *low = "";
    int lowWidth = 0;
};

// A multi-sensor (1-Wire family "26") reports what its second channel measures by a
// two-character type code, the last two characters of its identifier. One row holds all the
// program knows of a type code; a field a type does not use stays empty (or false, or None).
struct TypeCode
{
    const char *code = "";          // "19"
    const char *description = "";   // "Temperature and humidity": the retyper's list, the MQTT model
    bool hasCh2 = false;            // a measured second channel, with limits of its own
    bool hasWater = false;          // a water-leak tape
    Quantity quantity = Quantity::None;
    Ch2Encoding encoding = Ch2Encoding::None;
    const char *channel2 = "";      // "Humidity": the stored Channel2Name, the log grid, the graph
    const char *caption = "";       // "AC Current": the limits' caption in the sensor options
    const char *graphUnit = "";     // "level (%)": after the name on the graph's axis
    const char *exportHeading = ""; // "Humidity, %": the column heading of the export file
    int exportDecimals = 0;         // of the second channel in the export file
    const char *metricKind = "";    // "humidity": the metrics' kind label, the MQTT state key
    const char *unit = "";          // "%": the webhook's and Home Assistant's unit
    const char *deviceClass = "";   // "humidity": Home Assistant's device class
    MailLabels alarmMail{};         // the second channel in the alarm mail
    MailLabels returnMail{};        // the second channel in the return-to-normal mail
};

// "00", "19", "1A", "1B", "1C", "1D", "1E", in that order.
[[nodiscard]] std::span<const TypeCode> TypeCodes();
// The row of a type code, by the code alone; nullptr for a code the table does not hold.
[[nodiscard]] const TypeCode *FindTypeCode(const QString &code);

// What a sensor's identifier says about the values it reports and the limits it can have:
// the row of its type code for a multi-sensor of a listed type, and for any other sensor a
// row with nothing beyond the temperature (no code, no second channel, no water). A sensor
// type text ("26 19") names the same kind as the identifier it was made from.
using SensorKind = TypeCode;
[[nodiscard]] const SensorKind &KindOf(const QString &sensorId);

// "26 19" from "26A1B2C3D4E5F60B 19": the family, a blank, the last two characters.
[[nodiscard]] QString SensorTypeText(const QString &sensorId);
[[nodiscard]] QString FamilyOf(const QString &sensorId);
[[nodiscard]] QString TypeOf(const QString &sensorId);

} // namespace clarow
