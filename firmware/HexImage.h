#pragma once

#include <QString>
#include <QStringList>

namespace clarow {

// The adapter's firmware image: Intel HEX records, one per line (":", byte count, 16-bit
// address, record type, data, checksum, all as hexadecimal pairs). A complete image holds
// exactly this many records, the last being the end-of-file record.
inline constexpr int kImageRecords = 837;

// The records of an image file's text: one per line, line ends and surrounding blanks
// dropped, empty lines skipped.
[[nodiscard]] QStringList SplitRecords(const QByteArray &text);

// Why a record is not a sound Intel HEX record (empty when it is): its form, its byte count
// against its length, its checksum, and its record type (00 to 05).
[[nodiscard]] QString RecordFault(const QString &record);

// Why an image cannot be sent to the adapter (empty when it can): the number of records, the
// first faulty record by its number (0-based, in file order), and a last record that is not
// the end-of-file record.
[[nodiscard]] QString ImageFault(const QStringList &records);

// The record type (characters 8 and 9) and the 16-bit address (characters 4 to 7).
[[nodiscard]] QString RecordType(const QString &record);
[[nodiscard]] int RecordAddress(const QString &record);

// Records the loader must never be sent: extended-address records (type "04"), which it
// works out for itself, and records that touch its own area, word addresses 1E00 to 20FF,
// which would overwrite the loader while it runs: a data record when any of its bytes lies
// there, not only its first.
[[nodiscard]] bool RecordSkipped(const QString &record);

} // namespace clarow
