#include "monitor/StatusGrid.h"

#include "core/Database.h"
#include "core/Helpers.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>

namespace clarow {

namespace {

constexpr qint64 kRecentSeconds = 50;
constexpr qint64 kDisconnectedSeconds = 2 * 3600;
constexpr int kDisconnectedAlarm = 9;

QString valueText(const QVariant &v)
{
    if (v.isNull())
        return {};
    return SingleText(static_cast<float>(v.toDouble()));
}

// Identifier order: the 16-character address, then the leading number of the last two
// characters ("1E" counts as 1, "19" as 19, "A0" as 0).
bool identifierBefore(const StatusRow &a, const StatusRow &b)
{
    const int c = QString::compare(a.sensorId.left(16), b.sensorId.left(16), Qt::CaseSensitive);
    if (c != 0)
        return c < 0;
    return LeadingNumber(a.sensorId.right(2)) < LeadingNumber(b.sensorId.right(2));
}

// Locations sort as the operator reads them, without regard to letter case.
bool locationBefore(const StatusRow &a, const StatusRow &b)
{
    return QString::compare(a.cells[ColLocation], b.cells[ColLocation], Qt::CaseInsensitive) < 0;
}

} // namespace

QString GridHeaderText(int column, const QString &scaleLetter)
{
    switch (column) {
    case ColSensor:
        return QStringLiteral("Sensor");
    case ColLocation:
        return QStringLiteral("Location");
    case ColTemperature:
        return QStringLiteral("Temperature\r(\u00B0") + scaleLetter + QLatin1Char(')');
    case ColHumidity:
        return QStringLiteral("Humidity\r(%)");
    case ColLight:
        return QStringLiteral("Light\r(%)");
    case ColAnalog:
        return QStringLiteral("Analog\rvoltage");
    case ColCurrent:
        return QStringLiteral("Current\rAC Amps");
    case ColWater:
        return QStringLiteral("Water\rsensor");
    default:
        return {};
    }
}

unsigned ColumnsWidenedBy(const QString &sensorType)
{
    const int ch2 = SecondChannelColumn(sensorType);
    const unsigned water = KindOf(sensorType).hasWater ? 1u << ColWater : 0u;
    return (ch2 >= 0 ? 1u << ch2 : 0u) | water;
}

int SecondChannelColumn(const QString &sensorType)
{
    // A sensor type text names its family and type code where an identifier does.
    const SensorKind &kind = KindOf(sensorType);
    if (!kind.hasCh2)
        return -1;
    switch (kind.quantity) {
    case Quantity::Humidity:
        return ColHumidity;
    case Quantity::Light:
        return ColLight;
    case Quantity::Voltage:
        return ColAnalog;
    case Quantity::Current:
        return ColCurrent;
    case Quantity::None:
        break;
    }
    return -1;
}

QString WaterStatusText(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral("Dry");
    case 1:
        return QStringLiteral("Fault");
    case 2:
        return QStringLiteral("Wet");
    default:
        return {};
    }
}

QList<StatusRow> LoadStatusGrid(const QDateTime &lastGoodRead, bool sortByLocation)
{
    const double t1 = ToSerial(lastGoodRead.addSecs(-kRecentSeconds));
    const double t2 = ToSerial(lastGoodRead.addSecs(-kDisconnectedSeconds));
    QSqlQuery q = Exec(QStringLiteral(
                           "SELECT SensorID, Location, cTmp, cCh2, InAlarm, AlType, wStatus "
                           "FROM Sensors "
                           "WHERE (LastR >= ? AND Connected = 1) "
                           "OR (LastR >= ? AND AlType = 9 AND InAlarm = 1) "
                           "ORDER BY SensorID"),
                       {t1, t2});

    const Settings &s = program().settings;
    QList<StatusRow> rows;
    while (q.next()) {
        StatusRow r;
        r.sensorId = q.value(0).toString();
        r.sensorType = SensorTypeText(r.sensorId);
        r.inAlarm = q.value(4).toInt() != 0;
        r.colour = r.inAlarm ? s.ColAlarm : s.ColOK;
        const bool disconnected = q.value(5).toInt() == kDisconnectedAlarm;

        r.cells[ColSensor] = r.sensorId;
        r.cells[ColLocation] = q.value(1).toString();
        r.cells[ColTemperature] = disconnected && r.inAlarm ? QStringLiteral("disconnected")
                                                            : valueText(q.value(2));
        if (!disconnected) {
            const int ch2 = SecondChannelColumn(r.sensorType);
            if (ch2 >= 0)
                r.cells[ch2] = valueText(q.value(3));
            if (ColumnsWidenedBy(r.sensorType) & (1u << ColWater) && !q.value(6).isNull())
                r.cells[ColWater] = WaterStatusText(q.value(6).toInt());
        }
        rows.append(r);
    }

    // The rows come in identifier order, so equal keys keep that order.
    std::stable_sort(rows.begin(), rows.end(), [sortByLocation](const StatusRow &a, const StatusRow &b) {
        if (a.inAlarm != b.inAlarm)
            return a.inAlarm;
        return sortByLocation ? locationBefore(a, b) : identifierBefore(a, b);
    });
    return rows;
}

bool CheckTemperatureHeader(QString &header, const QString &scaleLetter)
{
    // The whole text is compared rather than the letter alone, so an empty scale letter does
    // not raise the message at every rebuild.
    const QString wanted = GridHeaderText(ColTemperature, scaleLetter);
    if (header == wanted)
        return false;
    header = wanted;
    MsgBox(QStringLiteral("Correct temperature readings will\rbe shown after the next scan."),
           QStringLiteral("Temperature scale change"));
    return true;
}

GridSize SizeGrid(int neededHeight, int columnsWidth, int mainInner, double px)
{
    const auto twips = [](double v) { return static_cast<int>(std::lround(v)); };
    GridSize g;
    const double h = neededHeight;
    bool fits;
    if (mainInner <= 5000) {
        fits = h + 5 * px < 2000;
        g.gridHeight = fits ? twips(h + 7 * px) : 3500;
        g.windowHeight = fits ? g.gridHeight + 1500 : 5000;
    } else {
        fits = mainInner - 1500 > neededHeight;
        g.gridHeight = fits ? twips(h + 7 * px) : mainInner - 1500;
        g.windowHeight = fits ? g.gridHeight + 1500 : mainInner;
    }
    g.gridWidth = twips(columnsWidth + (fits ? 5 : 19) * px);
    g.verticalScrollBar = !fits;
    return g;
}

GridSize SizeGridWithin(int neededHeight, int columnsWidth, int roomHeight, double px)
{
    const auto twips = [](double v) { return static_cast<int>(std::lround(v)); };
    GridSize g;
    const int fitted = twips(neededHeight + 7 * px);
    // Never less than the header and one row, so the grid stays usable in a tiny window.
    const int room = std::max(roomHeight, kHeaderRowTwips + kDataRowTwips + twips(7 * px));
    const bool fits = fitted <= room;
    g.gridHeight = fits ? fitted : room;
    g.windowHeight = 0;
    g.gridWidth = twips(columnsWidth + (fits ? 5 : 19) * px);
    g.verticalScrollBar = !fits;
    return g;
}

} // namespace clarow
