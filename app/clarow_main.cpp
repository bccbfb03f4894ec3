#include "app/Headless.h"
#include "app/Startup.h"
#include "app/ui/MainMDI.h"
#include "app/ui/MessageBoxPrompter.h"
#include "app/ui/ShutdownSignals.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "core/Settings.h"
#include "link/CommandLine.h"
#include "link/SerialPort.h"
#include "monitor/Metrics.h"
#include "monitor/MqttPublisher.h"
#include "views/WebPage.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSessionManager>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

using namespace clarow;

namespace {

const QString kHeadlessOption = QStringLiteral("headless");
const QString kMetricsOption = QStringLiteral("metrics");
const QString kWebOption = QStringLiteral("web");
const QString kSetWebPasswordOption = QStringLiteral("set-web-password");

// Reads the web page's password from the first line of standard input and stores its hash.
int setWebPassword()
{
    std::string line;
    std::getline(std::cin, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    QString error;
    const std::optional<QString> user = StoreWebPassword(QString::fromStdString(line), &error);
    if (!user) {
        std::fprintf(stderr, "clarow: %s\n", qPrintable(error));
        return 1;
    }
    std::fprintf(stdout, "clarow: the web page's password is stored for user \"%s\"; "
                         "it is asked for from the next start on.\n", qPrintable(*user));
    return 0;
}

// One clarow per program folder: a second one says so and ends.
bool holdProgramFolder(InstanceLock &lock)
{
    if (lock.acquire())
        return true;
    MsgBox(QLatin1String(kAlreadyRunningText), QStringLiteral("Clarow"));
    return false;
}

// The monitor as a service: no window, no display needed.
int runHeadless(QCoreApplication &app)
{
    InstanceLock lock;
    if (!holdProgramFolder(lock))
        return 1;
    const std::unique_ptr<HttpServices> served = StartHttpServices(QCoreApplication::arguments());
    const std::unique_ptr<MqttPublisher> mqtt = StartMqtt();
    Headless monitor;
    ShutdownSignals signals;
    QObject::connect(&signals, &ShutdownSignals::requested, &monitor, &Headless::requestShutdown);
    QObject::connect(&monitor, &Headless::closedDown, &app, [] { QCoreApplication::exit(0); },
                     Qt::QueuedConnection);
    QTimer::singleShot(0, &monitor, [&monitor] {
        if (!monitor.startUp())
            QCoreApplication::exit(1);
    });
    return app.exec();
}

int runWithWindows(QApplication &app)
{
    QApplication::setQuitOnLastWindowClosed(false);

    // With CLAROW_UNATTENDED set (tests, unattended runs) every message box is written to
    // standard error and answered as if dismissed, so that no box waits for a user.
    MessageBoxPrompter boxes;
    if (qEnvironmentVariableIsEmpty("CLAROW_UNATTENDED"))
        setPrompter(&boxes);

    InstanceLock lock;
    if (!holdProgramFolder(lock))
        return 1;

    // Metrics for the monitoring stack and the web page, when an address is given: served
    // from the start, so that a scraper sees the program even while the adapter is still
    // being looked for.
    const std::unique_ptr<HttpServices> served = StartHttpServices(QCoreApplication::arguments());
    // Sensor states for Home Assistant and other MQTT subscribers, when a broker is set.
    const std::unique_ptr<MqttPublisher> mqtt = StartMqtt();

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

} // namespace

int main(int argc, char *argv[])
{
    // A file-size limit reached while writing (an export, the diagnostic log, the database)
    // must fail that write with an error the program reports, not end the program.
    ::signal(SIGXFSZ, SIG_IGN);
    const bool noWindows = RunsWithoutWindows(argc, argv, {kHeadlessOption, kSetWebPasswordOption});
    std::unique_ptr<QCoreApplication> app;
    if (noWindows)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("clarow"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CLAROW_VERSION));

    QCommandLineParser parser;
    PrepareParser(parser, QStringLiteral("Watches 1-Wire sensors on a Varnex adapter: status grid, "
                                         "alarms, alarm mail and history."));
    parser.addOption(QCommandLineOption(
        kHeadlessOption, QStringLiteral("Run without windows (as a service): scan, keep the history and "
                                        "mail alarms; messages go to standard error and the diagnostic log.")));
    parser.addOption(QCommandLineOption(
        kMetricsOption,
        QStringLiteral("Serve Prometheus metrics on ADDRESS (for example 127.0.0.1:9464); "
                       "without it, the MetricsAddress setting decides."),
        QStringLiteral("ADDRESS")));
    parser.addOption(QCommandLineOption(
        kWebOption,
        QStringLiteral("Serve the read-only web page (status grid, history, export) on ADDRESS (for example "
                       "127.0.0.1:8080); without it, the WebAddress setting decides."),
        QStringLiteral("ADDRESS")));
    parser.addOption(QCommandLineOption(
        kSetWebPasswordOption,
        QStringLiteral("Read the web page's password from standard input, store its hash and end.")));
    parser.process(*app);
    SetPortMap(StoredPortDevice);

    if (parser.isSet(kSetWebPasswordOption))
        return setWebPassword();
    if (parser.isSet(kHeadlessOption))
        return runHeadless(*app);
    return runWithWindows(static_cast<QApplication &>(*app));
}
