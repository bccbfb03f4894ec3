#pragma once

#include <QDateTime>
#include <QString>

namespace clarow {

// Appends one entry to today's diagnostic log (yyyy_MM_dd.log in the program folder).
// Callers decide whether to log (LogErrors, LogComms); any failure is silent.
void WriteLog(const QString &message);

// Every entry WriteLog writes also goes to standard error while this is on (a run without
// windows, whose service manager keeps what the program writes there).
void EchoLogToStandardError(bool on);

// The file name and the line WriteLog would write for a message at a given time.
[[nodiscard]] QString LogFileName(const QDateTime &at);
[[nodiscard]] QString LogLine(const QString &message, const QDateTime &at);

} // namespace clarow
