#pragma once

#include <QDateTime>
#include <QString>

namespace clarow {

// Appends one entry to today's diagnostic log (yyyy_MM_dd.log in the program folder).
// Callers decide whether to log (LogErrors, LogComms); any failure is silent.
void WriteLog(const QString &message);

// The file name and the line WriteLog would write for a message at a given time.
[[nodiscard]] QString LogFileName(const QDateTime &at);
[[nodiscard]] QString LogLine(const QString &message, const QDateTime &at);

} // namespace clarow
