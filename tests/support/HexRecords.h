#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace clarow::test {

// One Intel HEX record with a correct checksum.
inline QString HexRecord(int address, int type, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char((address >> 8) & 0xFF));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    unsigned sum = 0;
    for (const char b : bytes)
        sum += uchar(b);
    bytes.append(char((0x100 - (sum & 0xFF)) & 0xFF));
    return QLatin1Char(':') + QString::fromLatin1(bytes.toHex().toUpper());
}

inline QString EndOfFileRecord() { return QStringLiteral(":00000001FF"); }

// A short image with every kind of record the transfer meets: an extended-address record,
// data records, records at the edges and inside of the loader's area, the end-of-file record.
struct SmallImage
{
    QStringList records;
    QStringList sent;    // the records the loader must receive, in order
    QStringList skipped; // the records it must never receive
};

inline SmallImage MakeSmallImage()
{
    SmallImage img;
    const auto add = [&img](const QString &r, bool sent) {
        img.records << r;
        (sent ? img.sent : img.skipped) << r;
    };
    add(HexRecord(0x0000, 0x04, QByteArray::fromHex("0000")), false);
    add(HexRecord(0x0000, 0x00, QByteArray::fromHex("00112233445566778899AABBCCDDEEFF")), true);
    add(HexRecord(0x3BFE, 0x00, QByteArray::fromHex("0102")), true);  // word 1DFF
    add(HexRecord(0x3C00, 0x00, QByteArray::fromHex("0304")), false); // word 1E00
    add(HexRecord(0x41FE, 0x00, QByteArray::fromHex("0506")), false); // word 20FF
    add(HexRecord(0x4200, 0x00, QByteArray::fromHex("0708")), true);  // word 2100
    add(HexRecord(0x0000, 0x04, QByteArray::fromHex("0030")), false);
    add(HexRecord(0x0000, 0x00, QByteArray::fromHex("0A0B0C0D")), true);
    add(EndOfFileRecord(), true);
    return img;
}

} // namespace clarow::test
