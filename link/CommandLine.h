#pragma once

#include <QStringList>

class QCommandLineParser;

namespace clarow {

// True when the command line asks for something that needs no window (help, the version,
// one of the given options, or an unknown long option to be refused), so the program can
// start without a display.
[[nodiscard]] bool RunsWithoutWindows(int argc, char **argv, const QStringList &options = {});

// A parser that knows --help and --version, with the program's one-line description.
void PrepareParser(QCommandLineParser &parser, const QString &description);

} // namespace clarow
