#include "link/TypeCodes.h"

#include <array>

namespace clarow {

namespace {

constexpr MailLabels kHumidityMail{"Current relative humidity:", 27, "High humidity limit:", 27,
                                   "Low humidity limit:", 27};
constexpr MailLabels kVoltageMail{"Current analog voltage:", 30, "High voltage limit:", 29,
                                  "Low voltage limit:", 29};
constexpr MailLabels kLightMail{"Current light level:", 27, "High light limit:", 27, "Low light limit:", 27};
// The current sensor's alarm mail speaks of amperage; its return mail keeps it short.
constexpr MailLabels kAmperageMail{"Current amperage reading:", 36, "High amperage limit:", 36,
                                   "Low amperage limit:", 36};
constexpr MailLabels kReadingMail{"Current reading:", 27, "High limit:", 27, "Low limit:", 27};

// Every property of every type code: a new type code is one more row.
constexpr std::array<TypeCode, 7> kTypes{{
    {.code = "00", .description = "Temperature only"},
    {.code = "19", .description = "Temperature and humidity", .hasCh2 = true,
     .quantity = Quantity::Humidity, .encoding = Ch2Encoding::Whole, .channel2 = "Humidity",
     .caption = "Humidity", .graphUnit = "%", .exportHeading = "Humidity, %", .exportDecimals = 0,
     .metricKind = "humidity", .unit = "%", .deviceClass = "humidity", .alarmMail = kHumidityMail,
     .returnMail = kHumidityMail},
    {.code = "1A", .description = "Temperature and voltage", .hasCh2 = true,
     .quantity = Quantity::Voltage, .encoding = Ch2Encoding::Hundredths, .channel2 = "Voltage",
     .caption = "Voltage", .graphUnit = "DC", .exportHeading = "Voltage", .exportDecimals = 2,
     .metricKind = "voltage", .unit = "V", .deviceClass = "voltage", .alarmMail = kVoltageMail,
     .returnMail = kVoltageMail},
    {.code = "1B", .description = "Temperature and light", .hasCh2 = true,
     .quantity = Quantity::Light, .encoding = Ch2Encoding::Whole, .channel2 = "Light",
     .caption = "Light", .graphUnit = "level (%)", .exportHeading = "Light", .exportDecimals = 0,
     .metricKind = "light", .unit = "lx", .deviceClass = "illuminance", .alarmMail = kLightMail,
     .returnMail = kLightMail},
    {.code = "1C", .description = "Temperature and AC current", .hasCh2 = true,
     .quantity = Quantity::Current, .encoding = Ch2Encoding::Tenths, .channel2 = "Current",
     .caption = "AC Current", .graphUnit = "AC Amps", .exportHeading = "Amps", .exportDecimals = 0,
     .metricKind = "current", .unit = "A", .deviceClass = "current", .alarmMail = kAmperageMail,
     .returnMail = kReadingMail},
    {.code = "1D", .description = "Temperature and water", .hasWater = true},
    {.code = "1E", .description = "Temperature, humidity and water", .hasCh2 = true, .hasWater = true,
     .quantity = Quantity::Humidity, .encoding = Ch2Encoding::Whole, .channel2 = "Humidity",
     .caption = "Humidity", .graphUnit = "level (%)", .exportHeading = "Humidity, %",
     .exportDecimals = 0, .metricKind = "humidity", .unit = "%", .deviceClass = "humidity",
     .alarmMail = kHumidityMail, .returnMail = kHumidityMail},
}};

// The kind of every other sensor: its identifier promises a temperature and nothing more.
constexpr TypeCode kTemperatureOnly{};

} // namespace

std::span<const TypeCode> TypeCodes() { return kTypes; }

const TypeCode *FindTypeCode(const QString &code)
{
    for (const TypeCode &t : kTypes) {
        if (code == QLatin1String(t.code))
            return &t;
    }
    return nullptr;
}

const SensorKind &KindOf(const QString &sensorId)
{
    if (FamilyOf(sensorId) != QLatin1String(kMultiSensorFamily))
        return kTemperatureOnly;
    const TypeCode *t = FindTypeCode(TypeOf(sensorId));
    return t ? *t : kTemperatureOnly;
}

QString FamilyOf(const QString &sensorId) { return sensorId.left(2); }

QString TypeOf(const QString &sensorId) { return sensorId.right(2); }

QString SensorTypeText(const QString &sensorId)
{
    return FamilyOf(sensorId) + QLatin1Char(' ') + TypeOf(sensorId);
}

} // namespace clarow
