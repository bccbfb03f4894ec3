// retyper: lists the multi-sensors on the adapter's bus and rewrites the type code of one.
#include "link/CommandLine.h"
#include "link/SerialPort.h"
#include "retyper/Messages.h"
#include "retyper/ui/MessageBoxShower.h"
#include "retyper/ui/SensorType.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QTimer>

#include <memory>

int main(int argc, char *argv[])
{
    const QString kDescription = QStringLiteral(
        "Lists the multi-sensors on a Varnex adapter's bus and rewrites the type code of one.");
    // Help and the version are printed without opening a display.
    std::unique_ptr<QCoreApplication> app;
    if (clarow::RunsWithoutWindows(argc, argv))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("retyper"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CLAROW_VERSION));
    QCommandLineParser parser;
    clarow::PrepareParser(parser, kDescription);
    parser.process(*app);
    // The ports are the ones clarow uses: section [Ports] of the store the two programs share.
    clarow::SetPortMap([](int number) {
        const QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
        return store.value(QStringLiteral("Ports/%1").arg(number)).toString();
    });

    // Unattended runs (scripts, the demo without a display) write boxes to standard error.
    clarow::retyper::MessageBoxShower boxes;
    if (qEnvironmentVariableIsEmpty("CLAROW_UNATTENDED"))
        clarow::retyper::setMessages(&boxes);

    clarow::retyper::SensorType window;
    window.show();
    // The first scan runs once the window is on screen, so its status texts can be seen.
    QTimer::singleShot(0, &window, [&window] {
        if (!window.load())
            QApplication::exit(1);
    });
    const int rc = QApplication::exec();
    clarow::retyper::setMessages(nullptr);
    return rc;
}
