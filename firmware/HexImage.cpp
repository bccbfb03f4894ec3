#include "firmware/HexImage.h"

#include <QByteArray>

#include <utility>

namespace clarow {

namespace {
constexpr int kLoaderFirstWord = 0x1E00;
constexpr int kLoaderLastWord = 0x20FF;
constexpr int kLastRecordType = 0x05; // data, end of file, and the four address records
constexpr qsizetype kHeaderBytes = 4; // byte count, address high and low, type
const QString kEndOfFile = QStringLiteral("01");
const QString kExtendedAddress = QStringLiteral("04");
const QString kData = QStringLiteral("00");

bool inLoaderArea(int byteAddress)
{
    const int word = byteAddress / 2;
    return word >= kLoaderFirstWord && word <= kLoaderLastWord;
}

// The first and last byte address a record names: a data record fills the bytes from its
// address on, any other record names its address alone.
std::pair<int, int> span(const QString &record)
{
    const int first = RecordAddress(record);
    bool okCount = false;
    const int count = record.mid(1, 2).toInt(&okCount, 16);
    const bool data = RecordType(record) == kData;
    return {first, data && okCount && count > 0 ? first + count - 1 : first};
}

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
        || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}
} // namespace

QStringList SplitRecords(const QByteArray &text)
{
    QStringList records;
    for (const QByteArray &line : text.split('\n')) {
        const QByteArray record = line.trimmed();
        if (!record.isEmpty())
            records << QString::fromLatin1(record);
    }
    return records;
}

QString RecordFault(const QString &record)
{
    if (!record.startsWith(QLatin1Char(':')))
        return QStringLiteral("does not start with \":\"");
    const QString hex = record.mid(1);
    for (const QChar c : hex) {
        if (!isHexDigit(c))
            return QStringLiteral("holds a character that is not hexadecimal");
    }
    if (hex.size() % 2 != 0 || hex.size() < 2 * (kHeaderBytes + 1))
        return QStringLiteral("is too short or has an odd number of digits");
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    if (bytes.size() != uchar(bytes[0]) + kHeaderBytes + 1)
        return QStringLiteral("has a byte count that does not match its length");
    unsigned sum = 0;
    for (const char b : bytes)
        sum += uchar(b);
    if ((sum & 0xFF) != 0)
        return QStringLiteral("has a wrong checksum");
    if (uchar(bytes[3]) > kLastRecordType)
        return QStringLiteral("has record type %1, which is not an Intel HEX record type").arg(RecordType(record));
    return {};
}

QString ImageFault(const QStringList &records)
{
    if (records.size() != kImageRecords) {
        return QStringLiteral("holds %1 records instead of %2")
            .arg(records.size())
            .arg(kImageRecords);
    }
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QString fault = RecordFault(records[i]);
        if (!fault.isEmpty())
            return QStringLiteral("record %1 %2").arg(i).arg(fault);
        // A record partly inside the loader's area is kept from the loader as a whole, and its
        // bytes outside the area would never reach the adapter.
        const auto [first, last] = span(records[i]);
        if (RecordType(records[i]) == kData && RecordSkipped(records[i])
            && !(inLoaderArea(first) && inLoaderArea(last)))
            return QStringLiteral("record %1 lies partly in the loader's area (word addresses 1E00 to 20FF)").arg(i);
    }
    if (RecordType(records.back()) != kEndOfFile)
        return QStringLiteral("does not end with the end-of-file record");
    return {};
}

QString RecordType(const QString &record)
{
    return record.mid(7, 2);
}

int RecordAddress(const QString &record)
{
    bool okHigh = false;
    bool okLow = false;
    const int high = record.mid(3, 2).toInt(&okHigh, 16);
    const int low = record.mid(5, 2).toInt(&okLow, 16);
    return okHigh && okLow ? high * 256 + low : 0;
}

bool RecordSkipped(const QString &record)
{
    if (RecordType(record) == kExtendedAddress)
        return true;
    // Kept from the loader when any byte it names is the loader's, not only its first.
    const auto [first, last] = span(record);
    return first / 2 <= kLoaderLastWord && last / 2 >= kLoaderFirstWord;
}

} // namespace clarow
