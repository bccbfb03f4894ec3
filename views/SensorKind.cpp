#include "views/SensorKind.h"

#include "link/TypeCodes.h"

namespace clarow {

namespace {
// The second channel's caption by type code, for the types that measure one.
struct Channel
{
    const char *type;
    const char *caption;
};
constexpr Channel kChannels[] = {
    {"1B", "Light"}, {"19", "Humidity"}, {"1A", "Voltage"}, {"1C", "AC Current"}, {"1E", "Humidity"},
};
} // namespace

SensorKind KindOf(const QString &sensorId)
{
    SensorKind k;
    k.type = TypeOf(sensorId);
    if (FamilyOf(sensorId) != QLatin1String(kMultiSensorFamily))
        return k;
    for (const Channel &c : kChannels) {
        if (k.type == QLatin1String(c.type)) {
            k.hasCh2 = true;
            k.ch2Caption = QLatin1String(c.caption);
        }
    }
    k.hasWater = k.type == QLatin1String("1D") || k.type == QLatin1String("1E");
    return k;
}

} // namespace clarow
