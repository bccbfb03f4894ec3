#include "HexRecords.h"

#include "firmware/HexImage.h"
#include "firmware/Upgrade.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

TEST(FirmwareImage, BuiltInImageIsCompleteAndHasEveryKindOfRecord)
{
    const QStringList records = LoadCode();
    ASSERT_EQ(records.size(), 837);
    EXPECT_EQ(ImageFault(records), QString());
    EXPECT_EQ(records.back(), QStringLiteral(":00000001FF"));
    // Like a real image it holds records that must never reach the loader, of both kinds.
    const auto extended = records.filter(QRegularExpression(QStringLiteral("^:.{6}04")));
    const auto skipped = std::count_if(records.begin(), records.end(), RecordSkipped);
    EXPECT_GT(extended.size(), 0);
    EXPECT_GT(skipped, extended.size());
}

TEST(FirmwareImage, RecordRules)
{
    const QString good = HexRecord(0x0010, 0x00, "A1B2");
    const struct
    {
        QString record;
        bool sound;
        bool skipped;
    } cases[] = {
        { HexRecord(0, 0x04, "0000"), true, true }, { good, true, false },
        { HexRecord(0x3BFE, 0x00, "01"), true, false }, // word 1DFF
        { HexRecord(0x3C01, 0x00, "01"), true, true }, // word 1E00
        { HexRecord(0x41FF, 0x00, "01"), true, true }, // word 20FF
        { HexRecord(0x4200, 0x00, "01"), true, false }, // word 2100
        // Data records that start outside the area and run into it, or out of it.
        { HexRecord(0x3BFE, 0x00, "0102"), true, false }, // words 1DFF only
        { HexRecord(0x3BFE, 0x00, "01020304"), true, true }, // words 1DFF to 1E00
        { HexRecord(0x3BF0, 0x00, QByteArray(2 * 255, 'A')), true, true }, // words 1DF8 to 1E77
        { HexRecord(0x41FE, 0x00, "01020304"), true, true }, // words 20FF to 2100
        // Only data records fill bytes; an address record names its address alone.
        { HexRecord(0x3BFE, 0x05, "00003C00"), true, false },
        { HexRecord(0x0000, 0x02, "1000"), true, false },
        { HexRecord(0x0000, 0x03, "00003C00"), true, false },
        // Record types beyond 05 are not Intel HEX.
        { HexRecord(0x0010, 0x06, "A1B2"), false, false },
        { HexRecord(0x0010, 0xFF, "A1B2"), false, false },
        { QStringLiteral(":00000001FF"), true, false },
        { QStringLiteral(":02001000A1B2AA"), false, false }, // checksum
        { good.mid(1), false, false }, { good.chopped(2), false, false },
        { QStringLiteral(":02001000A1G2AB"), false, false },
        { QStringLiteral(":0300100000A1B2AB"), false, false }, // count says 3, holds 2
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.record));
        EXPECT_EQ(RecordFault(c.record).isEmpty(), c.sound);
        EXPECT_EQ(c.sound && RecordSkipped(c.record), c.skipped);
    }
}

// The build runs this checker on the image it puts into the program and stops when it fails.
TEST(FirmwareImage, BuildCheckRefusesAnythingButACompleteSoundImage)
{
    const QStringList full = LoadCode();
    QStringList badChecksum = full;
    badChecksum[5] = badChecksum[5].chopped(2) + (full[5].endsWith("00") ? "01" : "00");
    QStringList noEnd = full;
    noEnd.back() = full[1];
    QStringList unknownType = full;
    unknownType[7] = HexRecord(0x0070, 0x06, "A1B2");
    QStringList intoLoader = full;
    intoLoader[9] = HexRecord(0x3BF8, 0x00, "00112233445566778899AABBCCDDEEFF");
    const struct
    {
        QStringList records;
        QString reason; // empty: accepted
    } cases[] = {
        { full, {} },
        { full.mid(0, 836), QStringLiteral("836 records instead of 837") },
        { full + QStringList { full[1] }, QStringLiteral("838 records instead of 837") },
        { badChecksum, QStringLiteral("record 5 has a wrong checksum") },
        { noEnd, QStringLiteral("does not end with the end-of-file record") },
        { unknownType, QStringLiteral("record 7 has record type 06") },
        { intoLoader, QStringLiteral("record 9 lies partly in the loader's area") },
    };
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image.hex"));
    const QString copy = dir.filePath(QStringLiteral("copy.hex"));
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.reason));
        QFile::remove(copy);
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.records.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
        f.close();
        QProcess check;
        check.start(QStringLiteral(CLAROW_BIN_DIR "/check-firmware-image"), { image, copy });
        ASSERT_TRUE(check.waitForFinished(10000));
        EXPECT_EQ(check.exitCode() == 0, c.reason.isEmpty());
        EXPECT_EQ(QFile::exists(copy), c.reason.isEmpty());
        EXPECT_TRUE(QString::fromLocal8Bit(check.readAllStandardError()).contains(c.reason));
    }
}
