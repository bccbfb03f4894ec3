#pragma once

#include <QString>

#include <optional>
#include <span>

namespace clarow {

// A multi-sensor (1-Wire family "26") reports what its second channel measures by a
// two-character type code, the last two characters of its identifier.
struct TypeCode
{
    const char *code;        // "19"
    const char *description; // "Temperature and humidity"
    const char *channel2;    // "Humidity", or "" when the type has no named second channel
};

inline constexpr const char *kMultiSensorFamily = "26";

// "00", "19", "1A", "1B", "1C", "1D", "1E", in that order.
[[nodiscard]] std::span<const TypeCode> TypeCodes();
[[nodiscard]] std::optional<TypeCode> FindTypeCode(const QString &code);

// "26 19" from "26A1B2C3D4E5F60B 19": the family, a blank, the last two characters.
[[nodiscard]] QString SensorTypeText(const QString &sensorId);
[[nodiscard]] QString FamilyOf(const QString &sensorId);
[[nodiscard]] QString TypeOf(const QString &sensorId);

} // namespace clarow
