// The inventory rules of the type tool: which reply lines become list entries, which one is
// selected, and when Apply is offered.
#include "retyper/Inventory.h"

#include <gtest/gtest.h>

using namespace clarow::retyper;

namespace {
struct ParseCase
{
    const char *name;
    const char *reply;
    const char *preferred;
    QStringList entries;
    int selected;
    bool preferredSeen;
};

const QString kA1 = QStringLiteral("26000000000000A1 19 - Temperature and humidity");
const QString kA2 = QStringLiteral("26000000000000A2 1B - Temperature and light");
} // namespace

TEST(Inventory, ReplyLines_BecomeEntriesAndSelection)
{
    const ParseCase cases[] = {
        {"two sensors, first selected", "26000000000000A1 19\r\n26000000000000A2 1B\r\nEOD\r\n", "",
         {kA1, kA2}, 0, false},
        {"other families skipped", "2800000012345678\r\n26000000000000A2 1B\r\n3000000000000042 07\r\nEOD",
         "", {kA2}, 0, false},
        {"preferred address selected, new type seen", "26000000000000A1 19\r\n26000000000000A2 1B\r\n",
         "26000000000000A2 1B", {kA1, kA2}, 1, true},
        {"preferred address listed with another type", "26000000000000A1 19\r\n26000000000000A2 00\r\n",
         "26000000000000A2 1B",
         {kA1, QStringLiteral("26000000000000A2 00 - Temperature only")}, 1, false},
        {"lower-case digits dropped, line too short", "26000000000000a1 19\r\n26000000000000A2 1B\r\n",
         "", {kA2}, 0, false},
        {"line feed and stray characters dropped", "\n26000000000000A2\t 1B\n\r", "", {kA2}, 0, false},
        {"unknown type code", "26000000000000A3 2F\r\n", "",
         {QStringLiteral("26000000000000A3 2F - Unknown")}, 0, false},
        {"line without carriage return not taken", "26000000000000A1 19EOD", "", {}, -1, false},
        {"no multi-sensor", "2800000012345678\r\nEOD\r\n", "", {}, -1, false},
    };
    for (const ParseCase &c : cases) {
        const InventoryList list = ParseInventory(QString::fromLatin1(c.reply), QString::fromLatin1(c.preferred));
        EXPECT_EQ(list.entries, c.entries) << c.name;
        EXPECT_EQ(list.selected, c.selected) << c.name;
        EXPECT_EQ(list.preferredSeen, c.preferredSeen) << c.name;
    }
}

TEST(Inventory, ReplyState_QuestionMarkEndsItWhateverCameBefore)
{
    EXPECT_EQ(InventoryState(QStringLiteral("26000000000000A1 19\r\n")), ReplyState::Incomplete);
    EXPECT_EQ(InventoryState(QStringLiteral("26000000000000A1 19\r\nEOD")), ReplyState::Complete);
    EXPECT_EQ(InventoryState(QStringLiteral("?01\r\n")), ReplyState::NoSensors);
    EXPECT_EQ(InventoryState(QStringLiteral("26000000000000A1 19\r\n?\r\nEOD")), ReplyState::NoSensors);
}

TEST(Inventory, TypeWrite_ApplyOnlyForAnotherType)
{
    const QStringList types = TypeEntries();
    ASSERT_EQ(types.size(), 7);
    EXPECT_EQ(types.first(), QStringLiteral("00 - Temperature only"));
    EXPECT_EQ(types.last(), QStringLiteral("1E - Temperature, humidity and water"));

    EXPECT_FALSE(ApplyAllowed(kA1, types[1])); // already 19
    EXPECT_TRUE(ApplyAllowed(kA1, types[3]));
    EXPECT_TRUE(ApplyAllowed(QStringLiteral("26000000000000A3 2F - Unknown"), types[0]));
    EXPECT_FALSE(ApplyAllowed(QString(), types[0]));

    EXPECT_EQ(TypeWriteCommand(kA1, types[3]), QStringLiteral("K0726000000000000A11B"));
    EXPECT_EQ(TypeWriteCommand(kA1, types[3]).size(), 21);
    EXPECT_EQ(ExpectedLine(kA1, types[3]), QStringLiteral("26000000000000A1 1B"));
}
