#include "link/CommandLine.h"

#include <QCommandLineParser>

namespace clarow {

bool RunsWithoutWindows(int argc, char **argv, const QStringList &options)
{
    QStringList names = options;
    names << QStringLiteral("help") << QStringLiteral("help-all") << QStringLiteral("version")
          << QStringLiteral("h") << QStringLiteral("v") << QStringLiteral("?");
    // Qt's own options of a program with windows, which its application object takes.
    static const QStringList qtOptions = {
        QStringLiteral("platform"), QStringLiteral("platformtheme"), QStringLiteral("platformpluginpath"),
        QStringLiteral("plugin"), QStringLiteral("style"), QStringLiteral("stylesheet"), QStringLiteral("session"),
        QStringLiteral("reverse"), QStringLiteral("display"), QStringLiteral("geometry"), QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowtitle"), QStringLiteral("qwindowicon")};
    for (int i = 1; i < argc; ++i) {
        QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--"))
            break;
        const bool longOption = arg.startsWith(QLatin1String("--"));
        while (arg.startsWith(QLatin1Char('-')))
            arg.remove(0, 1);
        const QString name = arg.section(QLatin1Char('='), 0, 0);
        // An unknown option is refused with a message, which needs no display either.
        if (names.contains(name) || (longOption && !qtOptions.contains(name)))
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
