#include "core/Errors.h"
#include "core/Helpers.h"
#include "link/Clock.h"

#include <gtest/gtest.h>

using namespace clarow;

TEST(TextToSingle, DecimalTextReadsExactlyWhateverTheSign)
{
    EXPECT_EQ(TextToSingle(QStringLiteral("22.05")), 22.05f);
    EXPECT_EQ(TextToSingle(QStringLiteral("22.5")), 22.5f);
    EXPECT_EQ(TextToSingle(QStringLiteral("-5.25")), -5.25f);
    EXPECT_EQ(TextToSingle(QStringLiteral("-0.06")), -0.06f);
    // The sign of "-0" would be lost on the whole part alone.
    EXPECT_EQ(TextToSingle(QStringLiteral("-0.5")), -0.5f);
    EXPECT_EQ(TextToSingle(QStringLiteral("71.6")), 71.6f);
    EXPECT_EQ(TextToSingle(QStringLiteral("21")), 21.0f);
    EXPECT_EQ(TextToSingle(QStringLiteral("-12")), -12.0f);
    EXPECT_EQ(TextToSingle(QStringLiteral(" 3.125 ")), 3.125f);
}

TEST(TextToSingle, TextThatIsNoNumberGivesZero)
{
    EXPECT_EQ(TextToSingle(QStringLiteral("abc")), 0.0f);
    EXPECT_EQ(TextToSingle(QString()), 0.0f);
    EXPECT_EQ(TextToSingle(QStringLiteral("12x")), 0.0f);
}

TEST(TextToSingle, WholeNumberTooLargeIsAnOverflow)
{
    try {
        (void)TextToSingle(QStringLiteral("40000"));
        FAIL() << "no error";
    } catch (const ClarowError &e) {
        EXPECT_EQ(e.number(), kErrOverflow);
    }
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfEven(45.5), 46.0);
    EXPECT_EQ(RoundHalfEven(44.5), 44.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
    EXPECT_EQ(RoundHalfEven(2.4), 2.0);
    EXPECT_EQ(RoundHalfEven(2.6), 3.0);
    EXPECT_EQ(RoundHalfEven(-2.6), -3.0);
}

TEST(LeadingNumber, TakesTheNumberAtTheStart)
{
    EXPECT_EQ(LeadingNumber(QStringLiteral("  12abc")), 12.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("&H8A2BE2")), 9055202.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("&hff")), 255.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("-3.5e1 minutes")), -35.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("10 E")), 10.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral(".5")), 0.5);
    EXPECT_EQ(LeadingNumber(QStringLiteral("abc")), 0.0);
    EXPECT_EQ(LeadingNumber(QString()), 0.0);
}

TEST(IsNumeric, WholeTextMustBeANumber)
{
    for (const char *yes : {"12", " -5.25 ", "1e3", "&H1F", "+7", ".5", "5."})
        EXPECT_TRUE(IsNumeric(QString::fromLatin1(yes))) << yes;
    for (const char *no : {"", "  ", "abc", "12abc", ".", "-", "&H", "1e", "1,5"})
        EXPECT_FALSE(IsNumeric(QString::fromLatin1(no))) << no;
}

TEST(DateNumberText, MidnightIsTheBareDayNumber)
{
    EXPECT_EQ(DateNumberText(QDateTime(QDate(2007, 5, 31), QTime(0, 0))), QStringLiteral("39233"));
    EXPECT_EQ(DateNumberText(ZeroDate()), QStringLiteral("0"));
}

TEST(DateNumberText, TimeOfDayIsTheFractionCutToTwelveCharacters)
{
    EXPECT_EQ(DateNumberText(QDateTime(QDate(2007, 5, 31), QTime(12, 0))), QStringLiteral("39233.5"));
    EXPECT_EQ(DateNumberText(QDateTime(QDate(2007, 5, 31), QTime(18, 0))), QStringLiteral("39233.75"));
    // 13:00 is 39233.541666666... : cut, not rounded.
    EXPECT_EQ(DateNumberText(QDateTime(QDate(2007, 5, 31), QTime(13, 0))),
              QStringLiteral("39233.541666"));
    EXPECT_EQ(DateNumberText(QDateTime(QDate(2008, 2, 1), QTime(9, 5, 7))),
              QStringLiteral("39479.378553"));
}

TEST(NumOr, NumericValuesRoundAndOthersGiveTheDefault)
{
    EXPECT_EQ(NumOr(QStringLiteral("12.5"), 1), 12.0);
    EXPECT_EQ(NumOr(QStringLiteral("13.5"), 1), 14.0);
    EXPECT_EQ(NumOr(QStringLiteral(" 7 "), 1), 7.0);
    EXPECT_EQ(NumOr(7.5, 1), 8.0);
    EXPECT_EQ(NumOr(QStringLiteral(""), 1), 1.0);
    EXPECT_EQ(NumOr(QStringLiteral("abc"), 0), 0.0);
    EXPECT_EQ(NumOr(QStringLiteral("3 hours"), 0), 0.0);
    EXPECT_EQ(NumOr(QVariant(), 5), 5.0);
}

TEST(WholeNumber16, RoundsAndRefusesWhatDoesNotFit)
{
    EXPECT_EQ(WholeNumber16(QStringLiteral("44.5")), 44);
    EXPECT_EQ(WholeNumber16(QStringLiteral("45.5")), 46);
    EXPECT_EQ(WholeNumber16(QStringLiteral("-32768")), -32768);
    EXPECT_EQ(WholeNumber16(QStringLiteral("32767")), 32767);

    auto errorOf = [](const char *text) {
        try {
            (void)WholeNumber16(QString::fromLatin1(text));
        } catch (const ClarowError &e) {
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(errorOf("abc"), kErrTypeMismatch);
    EXPECT_EQ(errorOf(""), kErrTypeMismatch);
    EXPECT_EQ(errorOf("32768"), kErrOverflow);
    EXPECT_EQ(errorOf("-32769"), kErrOverflow);
}

TEST(SingleText, ShortestTextThatReadsBack)
{
    EXPECT_EQ(SingleText(22.05f), QStringLiteral("22.05"));
    EXPECT_EQ(SingleText(10.0f), QStringLiteral("10"));
    EXPECT_EQ(SingleText(32.5f), QStringLiteral("32.5"));
    EXPECT_EQ(SingleText(-0.06f), QStringLiteral("-0.06"));
    EXPECT_EQ(SingleText(100000.0f), QStringLiteral("100000"));
    EXPECT_EQ(SingleText(0.0f), QStringLiteral("0"));
    EXPECT_EQ(SingleText(-0.0f), QStringLiteral("0"));
}

TEST(StoredColour, RedIsInTheLowByteOfTheStoredValue)
{
    const struct
    {
        qint32 stored;
        quint32 rgb;
        qint32 back; // the stored value read back from rgb
    } cases[] = {
        {0x000000, 0xFF000000u, 0x000000},
        {0x0000FF, 0xFFFF0000u, 0x0000FF},           // red
        {0x00FF00, 0xFF00FF00u, 0x00FF00},           // green
        {0xFF0000, 0xFF0000FFu, 0xFF0000},           // blue
        {8421631, 0xFFFF8080u, 8421631},             // the grid's alarm colour
        {0x302010, 0xFF102030u, 0x302010},
        {static_cast<qint32>(0x7F123456), 0xFF563412u, 0x123456}, // bytes beyond the colours
        {-1, 0xFFFFFFFFu, 0xFFFFFF},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(StoredColourToRgb(c.stored), c.rgb);
        EXPECT_EQ(RgbToStoredColour(c.rgb), c.back);
    }
}
