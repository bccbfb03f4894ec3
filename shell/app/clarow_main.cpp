#include "monitor/Metrics.h"
#include "shell/Program.h"
#include "shell/Prompter.h"
#include "shell/Startup.h"
#include "shell/ui/MainMDI.h"
#include "shell/ui/MessageBoxPrompter.h"
#include "shell/ui/ShutdownSignals.h"

#include <QApplication>
#include <QSessionManager>
#include <QTimer>

using namespace clarow;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("clarow"));
    QApplication::setApplicationVersion(QStringLiteral(CLAROW_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    // With CLAROW_UNATTENDED set (tests, unattended runs) every message box is written to
    // standard error and answered as if dismissed, so that no box waits for a user.
    MessageBoxPrompter boxes;
    if (qEnvironmentVariableIsEmpty("CLAROW_UNATTENDED"))
        setPrompter(&boxes);

    InstanceLock lock;
    if (!lock.acquire()) {
        MsgBox(QLatin1String(kAlreadyRunningText), QStringLiteral("Clarow"));
        return 1;
    }

    // Metrics for the monitoring stack, when an address is given: served from the start, so
    // that a scraper sees the program even while the adapter is still being looked for.
    const std::unique_ptr<MetricsExporter> metrics = StartMetrics(QCoreApplication::arguments());

    MainMDI main;
    ShutdownSignals signals;
    auto shutdown = [&main] {
        MessageBoxPrompter::dismissAll();
        main.requestShutdown();
    };
    QObject::connect(&signals, &ShutdownSignals::requested, &main, shutdown);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &main,
                     [shutdown](QSessionManager &) { shutdown(); });

    QTimer::singleShot(0, &main, [&main] {
        main.startUp();
        if (main.failed())
            QCoreApplication::exit(1);
    });
    const int rc = app.exec();
    setPrompter(nullptr);
    return rc;
}
