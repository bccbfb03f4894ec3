#include "link/ConsoleBox.h"

#include <cstdio>

namespace clarow {

void WriteBoxToStderr(const QString &title, const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fprintf(stderr, "[%s] %s\n", qPrintable(title), qPrintable(shown));
}

} // namespace clarow
