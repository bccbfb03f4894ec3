#include "HexRecords.h"

#include "firmware/HexImage.h"
#include "firmware/Upgrade.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

TEST(FirmwareImage, BuiltInImageIsCompleteAndHasEveryKindOfRecord)
{
    const QStringList records = LoadCode();
    ASSERT_EQ(records.size(), 837);
    EXPECT_EQ(ImageFault(records), QString());
    for (const QString &r : records)
        ASSERT_EQ(RecordFault(r), QString()) << qPrintable(r);
    EXPECT_EQ(records.back(), EndOfFileRecord());
    // Like a real image it holds records that must never reach the loader, of both kinds.
    int extended = 0;
    int loaderArea = 0;
    for (const QString &r : records) {
        if (RecordType(r) == QLatin1String("04"))
            ++extended;
        else if (RecordSkipped(r))
            ++loaderArea;
    }
    EXPECT_GT(extended, 0);
    EXPECT_GT(loaderArea, 0);
}

TEST(FirmwareImage, RecordRules)
{
    struct Case
    {
        QString record;
        bool sound;
        bool skipped;
    };
    const QString good = HexRecord(0x0010, 0x00, QByteArray::fromHex("A1B2"));
    QString badSum = good;
    badSum.back() = badSum.back() == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    const Case cases[] = {
        {HexRecord(0, 0x04, QByteArray::fromHex("0000")), true, true},
        {good, true, false},
        {HexRecord(0x3BFE, 0x00, QByteArray::fromHex("01")), true, false}, // word 1DFF
        {HexRecord(0x3C00, 0x00, QByteArray::fromHex("01")), true, true},  // word 1E00
        {HexRecord(0x3C01, 0x00, QByteArray::fromHex("01")), true, true},  // still word 1E00
        {HexRecord(0x41FF, 0x00, QByteArray::fromHex("01")), true, true},  // word 20FF
        {HexRecord(0x4200, 0x00, QByteArray::fromHex("01")), true, false}, // word 2100
        {EndOfFileRecord(), true, false},
        {badSum, false, false},
        {good.mid(1), false, false},                           // no ":"
        {good.left(good.size() - 2), false, false},            // cut short
        {QStringLiteral(":02001000A1G2AB"), false, false},     // not hexadecimal
        {QStringLiteral(":0300100000A1B2AB"), false, false},   // count says 3, holds 2
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.record));
        EXPECT_EQ(RecordFault(c.record).isEmpty(), c.sound);
        if (c.sound) {
            EXPECT_EQ(RecordSkipped(c.record), c.skipped);
        }
    }
}

// The build runs this checker on the image it puts into the program and stops when it fails.
TEST(FirmwareImage, BuildCheckRefusesAnythingButACompleteSoundImage)
{
    const QStringList full = LoadCode();
    ASSERT_EQ(full.size(), 837);
    QStringList badChecksum = full;
    badChecksum[5].replace(badChecksum[5].size() - 2, 2, QStringLiteral("00"));
    if (badChecksum[5] == full[5])
        badChecksum[5].replace(badChecksum[5].size() - 2, 2, QStringLiteral("01"));
    QStringList noEnd = full;
    noEnd.back() = full[1];
    QStringList extra = full;
    extra.insert(1, full[1]);

    struct Case
    {
        const char *name;
        QStringList records;
        bool accepted;
        QString reason;
    };
    const Case cases[] = {
        {"complete", full, true, {}},
        {"836 records", full.mid(0, 836), false, QStringLiteral("836 records instead of 837")},
        {"838 records", extra, false, QStringLiteral("838 records instead of 837")},
        {"bad checksum", badChecksum, false, QStringLiteral("record 5 has a wrong checksum")},
        {"no end record", noEnd, false, QStringLiteral("end-of-file record")},
    };
    QTemporaryDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString image = dir.filePath(QStringLiteral("image.hex"));
        const QString copy = dir.filePath(QStringLiteral("copy.hex"));
        QFile::remove(copy);
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.records.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
        f.close();

        QProcess check;
        check.start(QStringLiteral(CLAROW_BIN_DIR "/check-firmware-image"), {image, copy});
        ASSERT_TRUE(check.waitForFinished(10000));
        EXPECT_EQ(check.exitCode() == 0, c.accepted);
        EXPECT_EQ(QFile::exists(copy), c.accepted);
        if (!c.accepted) {
            EXPECT_TRUE(QString::fromLocal8Bit(check.readAllStandardError()).contains(c.reason));
        }
    }
}
