#pragma once

#include "views/LogData.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace clarow {

// The two file types the save dialog offers, comma-separated first.
[[nodiscard]] QStringList ExportFilters();
// The separator for the file type in force when the dialog closed: a comma for the first, a
// TAB otherwise, whatever extension the typed name has.
[[nodiscard]] QChar ExportSeparator(const QString &selectedFilter);
// The proposed file name: the last 8 characters of the sensor identifier, "_", and the date
// written with dateFormat keeping only ASCII letters and digits ("0000ABCD_06Dec2026").
[[nodiscard]] QString ProposedExportName(const QString &sensorId, const QDate &today,
                                         const QString &dateFormat);

// Everything the export file holds besides the readings.
struct ExportHeader
{
    QString locationName; // the site's name
    QString sensorId;
    QString scale;        // "C" or "F"
    QString dateFormat;
    QString timeFormat;
    QDate today;
    SensorKind kind;
};

// The whole export file: six header lines and one line per reading in ascending time, each
// ended by CR LF. Texts are quoted, an embedded double quote written twice, so that a name
// holding the separator or a quote still reads back as one field; numbers are written with
// the locale's decimal separator, and quoted when that is the separator itself.
[[nodiscard]] QString ExportText(const LogData &data, const ExportHeader &header, QChar separator,
                                 const QLocale &locale = QLocale());

// Writes the export to path in the system's text encoding, replacing any file there only
// once the whole text is written. False, with the system's reason in reason, when the file
// could not be written; a file that was there then keeps its old content.
bool WriteExport(const QString &path, const LogData &data, const ExportHeader &header,
                 QChar separator, QString *reason = nullptr);

// A failed export: "The data log could not be written to" the file, with the reason, as a
// message (title "Export failed") and in the diagnostic log.
void ReportExportFailure(const QString &path, const QString &reason);

// "22.05" with the locale's decimal separator: the shortest text that reads back as v.
[[nodiscard]] QString PlainNumber(float v, const QLocale &locale = QLocale());

} // namespace clarow
