#pragma once

#include <QByteArray>
#include <QStringList>

namespace clarow::test {

// One Intel HEX record with a correct checksum.
inline QString HexRecord(int address, int type, const QByteArray &hexData)
{
    QByteArray bytes = QByteArray::fromHex(hexData);
    bytes.prepend(char(type)).prepend(char(address & 0xFF)).prepend(char(address >> 8));
    bytes.prepend(char(bytes.size() - 3));
    int sum = 0;
    for (const char b : bytes)
        sum += uchar(b);
    bytes.append(char(-sum & 0xFF));
    return QLatin1Char(':') + QString::fromLatin1(bytes.toHex().toUpper());
}

// A short image with every kind of record: extended-address records, data records at the
// edges of and inside the loader's area (words 1E00 to 20FF), the end-of-file record; and
// the records of it the loader must receive, in order.
struct SmallImage
{
    QStringList records;
    QStringList sent;
};

inline SmallImage MakeSmallImage()
{
    SmallImage img;
    const auto add = [&img](const QString &r, bool sent) {
        img.records << r;
        if (sent)
            img.sent << r;
    };
    add(HexRecord(0x0000, 0x04, "0000"), false);
    add(HexRecord(0x0000, 0x00, "00112233445566778899AABBCCDDEEFF"), true);
    add(HexRecord(0x3BFE, 0x00, "0102"), true); // word 1DFF
    add(HexRecord(0x3C00, 0x00, "0304"), false); // word 1E00
    add(HexRecord(0x41FE, 0x00, "0506"), false); // word 20FF
    add(HexRecord(0x4200, 0x00, "0708"), true); // word 2100
    add(HexRecord(0x0000, 0x04, "0030"), false);
    add(HexRecord(0x0000, 0x00, "0A0B0C0D"), true);
    add(QStringLiteral(":00000001FF"), true);
    return img;
}

} // namespace clarow::test
