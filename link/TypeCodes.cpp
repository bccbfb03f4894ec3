#include "link/TypeCodes.h"

#include <array>

namespace clarow {

namespace {
constexpr std::array<TypeCode, 7> kTypes{{
    {"00", "Temperature only", ""},
    {"19", "Temperature and humidity", "Humidity"},
    {"1A", "Temperature and voltage", "Voltage"},
    {"1B", "Temperature and light", "Light"},
    {"1C", "Temperature and AC current", "Current"},
    {"1D", "Temperature and water", ""},
    {"1E", "Temperature, humidity and water", "Humidity"},
}};
} // namespace

std::span<const TypeCode> TypeCodes() { return kTypes; }

std::optional<TypeCode> FindTypeCode(const QString &code)
{
    for (const TypeCode &t : kTypes) {
        if (code == QLatin1String(t.code))
            return t;
    }
    return std::nullopt;
}

QString FamilyOf(const QString &sensorId) { return sensorId.left(2); }

QString TypeOf(const QString &sensorId) { return sensorId.right(2); }

QString SensorTypeText(const QString &sensorId)
{
    return FamilyOf(sensorId) + QLatin1Char(' ') + TypeOf(sensorId);
}

} // namespace clarow
