// The body of a diagnostic log entry: any message (a raw reply written with verbose logging
// included) becomes whole lines that each start with the time stamp or the continuation
// indent, and no bare carriage return or line feed.
#include "FuzzInput.h"

#include "core/DiagnosticLog.h"

using namespace clarow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QDateTime at(QDate(2026, 12, 7), QTime(13, 5, 9));
    const QString line = LogLine(fuzz::SerialText(data, size), at);
    FUZZ_CHECK(line.startsWith(QStringLiteral("2026 12 07 13:05:09 | ")));
    FUZZ_CHECK(line.endsWith(QStringLiteral("\r\n")));
    const QStringList rows = line.chopped(2).split(QStringLiteral("\r\n"));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        FUZZ_CHECK(!rows[i].contains(QLatin1Char('\r')) && !rows[i].contains(QLatin1Char('\n')));
        FUZZ_CHECK(i == 0 || rows[i].startsWith(QString(22, QLatin1Char(' '))));
    }
    return 0;
}
