#include "link/CommandLine.h"

#include <QCommandLineParser>

namespace clarow {

bool RunsWithoutWindows(int argc, char **argv, const QStringList &options)
{
    QStringList names = options;
    names << QStringLiteral("help") << QStringLiteral("help-all") << QStringLiteral("version")
          << QStringLiteral("h") << QStringLiteral("v") << QStringLiteral("?");
    for (int i = 1; i < argc; ++i) {
        QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--"))
            break;
        while (arg.startsWith(QLatin1Char('-')))
            arg.remove(0, 1);
        if (names.contains(arg.section(QLatin1Char('='), 0, 0)))
            return true;
    }
    return false;
}

void PrepareParser(QCommandLineParser &parser, const QString &description)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
}

} // namespace clarow
