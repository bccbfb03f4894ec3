#include "shell/DiagnosticLog.h"

#include <QDateTime>

namespace clarow {

void WriteLog(const QString &) {}
QString LogFileName(const QDateTime &) { return {}; }
QString LogLine(const QString &, const QDateTime &) { return {}; }

} // namespace clarow
