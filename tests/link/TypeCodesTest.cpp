#include "link/TypeCodes.h"
#include "monitor/StatusGrid.h"
#include "views/GraphPlan.h"
#include "views/LogGrid.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace clarow;

namespace {

QString IdOf(const TypeCode &t) { return QStringLiteral("26A1B2C3D4E5F60B ") + QLatin1String(t.code); }

bool Empty(const char *text) { return QLatin1String(text).isEmpty(); }

} // namespace

// Every row is whole: a type with a second channel says everything about it, a type without
// one says nothing, and every code is listed once.
TEST(TypeCodes, EveryRowIsComplete)
{
    QSet<QString> codes;
    for (const TypeCode &t : TypeCodes()) {
        SCOPED_TRACE(t.code);
        EXPECT_EQ(QLatin1String(t.code).size(), 2);
        EXPECT_FALSE(codes.contains(QLatin1String(t.code)));
        codes.insert(QLatin1String(t.code));
        EXPECT_FALSE(Empty(t.description));
        EXPECT_EQ(t.quantity != Quantity::None, t.hasCh2);
        EXPECT_EQ(t.encoding != Ch2Encoding::None, t.hasCh2);
        for (const char *text : {t.channel2, t.caption, t.graphUnit, t.exportHeading, t.metricKind, t.unit,
                                 t.deviceClass, t.alarmMail.current, t.alarmMail.high, t.alarmMail.low,
                                 t.returnMail.current, t.returnMail.high, t.returnMail.low})
            EXPECT_EQ(Empty(text), !t.hasCh2) << text;
    }
}

// Each row is what the lookups give for its code and for a sensor of its type, and what the
// grid, the log grid and the graph read off it.
TEST(TypeCodes, EveryRowIsWhatTheReadersFind)
{
    for (const TypeCode &t : TypeCodes()) {
        SCOPED_TRACE(t.code);
        const QString id = IdOf(t);
        EXPECT_EQ(FindTypeCode(QLatin1String(t.code)), &t);
        EXPECT_EQ(&KindOf(id), &t);
        EXPECT_EQ(&KindOf(SensorTypeText(id)), &t);

        const Ch2Channel graph = GraphChannelOf(id);
        EXPECT_EQ(graph.present, t.hasCh2);
        EXPECT_EQ(graph.name, QLatin1String(t.channel2));
        EXPECT_EQ(graph.unit, QLatin1String(t.graphUnit));
        EXPECT_EQ(LogGridHeading(2, KindOf(id), QStringLiteral("C")), QLatin1String(t.channel2));
        EXPECT_EQ(LogGridHeading(3, KindOf(id), QStringLiteral("C")).isEmpty(), !t.hasWater);

        const QString type = SensorTypeText(id);
        const int ch2Column = SecondChannelColumn(type);
        EXPECT_EQ(ch2Column >= 0, t.hasCh2);
        const unsigned widened = ColumnsWidenedBy(type);
        EXPECT_EQ((widened & (1u << ColWater)) != 0, t.hasWater);
        EXPECT_EQ(widened & ~(1u << ColWater), ch2Column >= 0 ? 1u << ch2Column : 0u);
    }
}

// Only a multi-sensor of a listed type code has more than a temperature.
TEST(TypeCodes, OtherSensorsHaveOnlyATemperature)
{
    for (const QString &id : {QStringLiteral("28A1B2C3D4E5F619"), QStringLiteral("30A1B2C3D4E5F60C 1E"),
                              QStringLiteral("26A1B2C3D4E5F60B 1F"), QString()}) {
        SCOPED_TRACE(id.toStdString());
        const SensorKind &k = KindOf(id);
        EXPECT_FALSE(k.hasCh2);
        EXPECT_FALSE(k.hasWater);
        EXPECT_TRUE(Empty(k.code));
        EXPECT_FALSE(GraphChannelOf(id).present);
        EXPECT_EQ(SecondChannelColumn(SensorTypeText(id)), -1);
        EXPECT_EQ(ColumnsWidenedBy(SensorTypeText(id)), 0u);
    }
    EXPECT_EQ(FindTypeCode(QStringLiteral("1F")), nullptr);
}
