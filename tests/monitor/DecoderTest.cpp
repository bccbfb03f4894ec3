#include "core/Errors.h"
#include "monitor/Decoder.h"

#include <gtest/gtest.h>

#include <vector>

using namespace clarow;

namespace {

std::vector<SensorLine> Decode(const QString &reply, const QString &corF = QStringLiteral("C"))
{
    std::vector<SensorLine> lines;
    DecodeReply(reply, corF, [&](const SensorLine &l) { lines.push_back(l); });
    return lines;
}

SensorLine DecodeOne(const QString &reply, const QString &corF = QStringLiteral("C"))
{
    const auto lines = Decode(reply, corF);
    EXPECT_EQ(lines.size(), 1u) << reply.toStdString();
    return lines.empty() ? SensorLine{} : lines.front();
}

const QString kEod = QStringLiteral("EOD\r\n");

} // namespace

TEST(DecoderTemperatureOnly, CelsiusScale_TakesFirstValueAndLogsNoSecondChannel)
{
    const SensorLine l = DecodeOne(QStringLiteral("28A1B2C3D4E5F60A,21.50,70.70\r\n") + kEod);
    EXPECT_EQ(l.id, QStringLiteral("28A1B2C3D4E5F60A"));
    EXPECT_FLOAT_EQ(l.temperature, 21.5f);
    EXPECT_EQ(l.ch2, 0.0f);
    EXPECT_EQ(l.water, 0);
    EXPECT_TRUE(l.update);
    EXPECT_FALSE(l.logCh2.has_value());
    EXPECT_FALSE(l.logWater.has_value());
}

TEST(DecoderTemperatureOnly, FahrenheitScale_TakesSecondValue)
{
    const SensorLine l = DecodeOne(QStringLiteral("28A1B2C3D4E5F60A,21.50,70.70\r\n") + kEod,
                                   QStringLiteral("F"));
    EXPECT_FLOAT_EQ(l.temperature, 70.7f);
    // Only exactly "F" selects Fahrenheit.
    EXPECT_FLOAT_EQ(DecodeOne(QStringLiteral("28A1B2C3D4E5F60A,21.50,70.70\r"), QStringLiteral("f")).temperature,
                    21.5f);
}

TEST(DecoderTemperatureOnly, NegativeTemperatures_KeepTheirSign)
{
    EXPECT_FLOAT_EQ(DecodeOne(QStringLiteral("28A1B2C3D4E5F60A,-5.25,22.55\r")).temperature, -5.25f);
    EXPECT_FLOAT_EQ(DecodeOne(QStringLiteral("28A1B2C3D4E5F60A,-0.06,31.89\r")).temperature, -0.06f);
}

TEST(DecoderTemperatureOnly, Family30_JoinsSuffixFieldToIdentifier)
{
    const SensorLine l = DecodeOne(QStringLiteral("30A1B2C3D4E5F60C,01,18.5,65.3\r\n"));
    EXPECT_EQ(l.id, QStringLiteral("30A1B2C3D4E5F60C 01"));
    EXPECT_EQ(l.id.size(), 19);
    EXPECT_FLOAT_EQ(l.temperature, 18.5f);
    EXPECT_FLOAT_EQ(DecodeOne(QStringLiteral("30A1B2C3D4E5F60C,01,18.5,65.3\r"), QStringLiteral("F")).temperature,
                    65.3f);
}

TEST(DecoderMultiSensor, Humidity_ReachesSensorAndHistory)
{
    const SensorLine l = DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 19,23.25,73.85,45\r"));
    EXPECT_EQ(l.id, QStringLiteral("26A1B2C3D4E5F60B 19"));
    EXPECT_FLOAT_EQ(l.temperature, 23.25f);
    EXPECT_EQ(l.ch2, 45.0f);
    EXPECT_EQ(l.water, 0);
    ASSERT_TRUE(l.logCh2.has_value());
    EXPECT_EQ(*l.logCh2, 45.0f);
    EXPECT_FALSE(l.logWater.has_value());
}

TEST(DecoderMultiSensor, WholeNumbersRoundHalfToEven)
{
    EXPECT_EQ(DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 19,23.25,73.85,45.5\r")).ch2, 46.0f);
    EXPECT_EQ(DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 19,23.25,73.85,44.5\r")).ch2, 44.0f);
}

TEST(DecoderMultiSensor, Voltage_HundredthsAndAboveTenIsZero)
{
    EXPECT_EQ(DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 1A,23.25,73.85,1234\r")).ch2, 0.0f);
    const SensorLine l = DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 1A,23.25,73.85,987\r"));
    EXPECT_FLOAT_EQ(l.ch2, 9.87f);
    ASSERT_TRUE(l.logCh2.has_value());
    EXPECT_FLOAT_EQ(*l.logCh2, 9.87f);
}

TEST(DecoderMultiSensor, Light_Above210IsZero)
{
    EXPECT_EQ(DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 1B,23.25,73.85,250\r")).ch2, 0.0f);
    EXPECT_EQ(DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 1B,23.25,73.85,210\r")).ch2, 210.0f);
}

TEST(DecoderMultiSensor, Current_Tenths)
{
    const SensorLine l = DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 1C,23.25,73.85,57\r"));
    EXPECT_FLOAT_EQ(l.ch2, 5.7f);
    EXPECT_FLOAT_EQ(*l.logCh2, 5.7f);
}

TEST(DecoderMultiSensor, TemperatureOnlyType_ReadsFahrenheitFromLastField)
{
    const SensorLine l = DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 00,23.25,73.85\r"), QStringLiteral("F"));
    EXPECT_FLOAT_EQ(l.temperature, 73.85f);
    EXPECT_EQ(l.ch2, 0.0f);
    EXPECT_FALSE(l.logCh2.has_value());
    EXPECT_FALSE(l.logWater.has_value());
}

TEST(DecoderMultiSensor, HumidityAndWater_WetFaultDry)
{
    const QString id = QStringLiteral("26A1B2C3D4E5F60B 1E,");
    const SensorLine wet = DecodeOne(id + QStringLiteral("24.0,75.2,51,0,1\r"));
    EXPECT_EQ(wet.ch2, 51.0f);
    EXPECT_EQ(wet.water, 2);
    EXPECT_EQ(*wet.logCh2, 51.0f);
    EXPECT_EQ(*wet.logWater, 2);
    EXPECT_EQ(DecodeOne(id + QStringLiteral("24.0,75.2,51,1,0\r")).water, 1);
    EXPECT_EQ(DecodeOne(id + QStringLiteral("24.0,75.2,51,0,0\r")).water, 0);
    // A damaged tape reports fault whatever its wet flag says.
    EXPECT_EQ(DecodeOne(id + QStringLiteral("24.0,75.2,51,1,1\r")).water, 1);
}

TEST(DecoderMultiSensor, WaterOnly_FlagsGiveStatusAndNoSecondChannel)
{
    const QString id = QStringLiteral("26A1B2C3D4E5F60B 1D,");
    const SensorLine wet = DecodeOne(id + QStringLiteral("24.0,75.2,0,1\r"));
    EXPECT_EQ(wet.water, 2);
    EXPECT_EQ(wet.ch2, 0.0f);
    EXPECT_FALSE(wet.logCh2.has_value());
    EXPECT_EQ(*wet.logWater, 2);
    EXPECT_EQ(DecodeOne(id + QStringLiteral("24.0,75.2,1,0\r")).water, 1);
    EXPECT_EQ(DecodeOne(id + QStringLiteral("24.0,75.2,0,0\r")).water, 0);
}

TEST(DecoderMultiSensor, UnlistedTypeCode_LoggedButNotUpdated)
{
    const SensorLine l = DecodeOne(QStringLiteral("26A1B2C3D4E5F60B 2F,23.25,73.85,45\r"));
    EXPECT_FALSE(l.update);
    EXPECT_FLOAT_EQ(l.temperature, 23.25f);
    EXPECT_FALSE(l.logCh2.has_value());
}

TEST(DecoderReply, SeveralLines_EachDeliveredWithFreshValues)
{
    const auto lines = Decode(QStringLiteral("26A1B2C3D4E5F60B 1E,24.0,75.2,51,1,0\r\n"
                                             "26A1B2C3D4E5F60D 19,20.0,68.0,30\r\n"
                                             "28A1B2C3D4E5F60A,21.50,70.70\r\n")
                              + kEod);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].water, 1);
    // The water status of the previous line does not leak into the next one.
    EXPECT_FALSE(lines[1].logWater.has_value());
    EXPECT_EQ(lines[1].ch2, 30.0f);
    EXPECT_FLOAT_EQ(lines[1].temperature, 20.0f);
    EXPECT_EQ(lines[2].id, QStringLiteral("28A1B2C3D4E5F60A"));
    EXPECT_FLOAT_EQ(lines[2].temperature, 21.5f);
}

TEST(DecoderReply, PartialReply_DecodedUpToLastCompleteLine)
{
    const auto lines = Decode(QStringLiteral("28A1B2C3D4E5F60A,21.50,70.70\r\n"
                                             "28A1B2C3D4E5F611,19.00,66.20\r\n"
                                             "28A1B2C3D4E5F6"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].id, QStringLiteral("28A1B2C3D4E5F611"));
    EXPECT_TRUE(Decode(QStringLiteral("28A1B2C3D4E5F60A,21.50,70.")).empty());
}

TEST(DecoderReply, NonNumericWholeNumber_ThrowsAfterEarlierLinesWereDelivered)
{
    std::vector<SensorLine> lines;
    const QString reply = QStringLiteral("28A1B2C3D4E5F60A,21.50,70.70\r\n"
                                         "26A1B2C3D4E5F60B 19,23.25,73.85,4-5\r\n"
                                         "28A1B2C3D4E5F611,19.00,66.20\r\n")
                          + kEod;
    try {
        DecodeReply(reply, QStringLiteral("C"), [&](const SensorLine &l) { lines.push_back(l); });
        FAIL() << "a humidity that is not a number must stop the decoding";
    } catch (const ClarowError &e) {
        EXPECT_EQ(e.number(), kErrTypeMismatch);
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].id, QStringLiteral("28A1B2C3D4E5F60A"));
}

TEST(DecoderReply, WaterFlagTooLargeForAByte_Throws)
{
    EXPECT_THROW(Decode(QStringLiteral("26A1B2C3D4E5F60B 1D,24.0,75.2,300,1\r")), ClarowError);
}

TEST(DecoderReply, NoiseCharactersAndEarlyCarriageReturnsAreIgnored)
{
    // Lower-case letters, "?" and line feeds carry no meaning; a carriage return before an
    // identifier ends nothing.
    const auto lines = Decode(QStringLiteral("\r\n28A1B2C3D4E5F60A,21.5x0,70.70\r\n") + kEod);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FLOAT_EQ(lines[0].temperature, 21.5f);
}

TEST(DecoderReply, LinesRunTogether_TheGarbledOneIsDroppedAndTheNextKept)
{
    // Characters lost on the line join a field of one line to the identifier of the next; no
    // sensor "21.28A1B2C3D4E5F60A" (or one with a stray minus) may come out of it.
    const auto lines = Decode(QStringLiteral("3000200000000042,07,21.28A1B2C3D4E5F60A,21.50,70.70\r\n"
                                             "28A1B2C3D4E5F-0A,21.5,70.7\r\n"
                                             "28A1B2C3D4E5F60B,22.5,72.5\r\n")
                              + kEod);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].id, QStringLiteral("28A1B2C3D4E5F60B"));
    EXPECT_FLOAT_EQ(lines[0].temperature, 22.5f);
}
