#include "app/Headless.h"

#include "app/CloseDown.h"

#include "app/Startup.h"
#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/FindVarnex.h"
#include "core/Program.h"
#include "link/SerialPort.h"

namespace clarow {

namespace {

// Thrown out of the adapter search when a close request arrives meanwhile.
struct SearchCut
{
};

// Texts that change every tick or every scan and say nothing new.
bool transient(const QString &status)
{
    return status.startsWith(QLatin1String("Seconds to next scan")) || status == QLatin1String("Scanning");
}
} // namespace

Headless::Headless(QObject *parent)
    : QObject(parent)
    , m_port(MakeSerialPort())
    , m_cycle(this)
{
    program().port = m_port.get();
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &Headless::searchAdapter);
    EchoLogToStandardError(true);
    setPrompter(this);
}

Headless::~Headless()
{
    m_cycle.stop();
    m_cycle.setView(nullptr);
    setPrompter(nullptr);
    EchoLogToStandardError(false);
    if (program().port == m_port.get())
        program().port = nullptr;
}

void Headless::report(const QString &text) { WriteLog(text); }

bool Headless::startUp()
{
    Program &p = program();
    p.errorContext = kStartupContext;
    try {
        LoadSettingsAndDatabase();
    } catch (const std::exception &e) {
        MsgBox(StartupFailureText(e), QStringLiteral("Error loading Clarow"));
        m_closedDown = true; // nothing to close down: the database never opened
        return false;
    }
    report(QStringLiteral("Clarow runs without windows; program folder ") + ProgramFolder());
    searchAdapter();
    return true;
}

void Headless::searchAdapter()
{
    if (m_closing || monitoring())
        return;
    m_searching = true;
    int result = NoVarnex;
    try {
        result = FindAdapterAtStartup(*m_port, [this](int) {
            if (m_closing)
                throw SearchCut{};
        });
    } catch (const SearchCut &) {
    } catch (const std::exception &e) {
        report(QStringLiteral("The search for the Varnex failed: ") + QString::fromLocal8Bit(e.what()));
    }
    m_searching = false;
    if (m_closing) {
        finishShutdown();
        return;
    }

    QString found;
    if (result == VarnexReady) {
        found = QStringLiteral("Varnex found on port %1; data collection started.").arg(program().settings.PortNumber);
    } else if (result == VarnexTooOld) {
        found = QStringLiteral("The Varnex on port %1 has firmware older than V1.0h and cannot collect data. "
                               "It is not upgraded without windows: start clarow on a desktop to upgrade it. "
                               "Looking again every minute.")
                    .arg(program().settings.PortNumber);
    } else {
        found = VarnexNotFoundText().replace(QLatin1Char('\r'), QLatin1Char(' '))
            + QStringLiteral(" Looking again every minute.");
    }
    // A search that keeps failing the same way is reported once.
    if (found != m_lastSearch)
        report(found);
    m_lastSearch = found;

    if (result == VarnexReady) {
        program().adapterOK = true;
        m_lastStatus.clear();
        m_cycle.setView(this);
        m_monitoring = true;
        m_cycle.start();
    } else {
        m_retry.start();
    }
}

void Headless::showStatus(const QString &text)
{
    if (transient(text) || text == m_lastStatus)
        return;
    m_lastStatus = text;
    report(text);
}

void Headless::closeWindow()
{
    // Without windows nobody starts data collection again: the search for the adapter
    // resumes instead.
    m_cycle.stop();
    m_monitoring = false;
    program().adapterOK = false;
    m_lastSearch.clear();
    if (!m_closing)
        m_retry.start();
}

Answer Headless::ask(const QString &text, const QString &title, Buttons buttons, Icon)
{
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    report(title.isEmpty() ? line : title + QStringLiteral(": ") + line);
    return DismissedAnswer(buttons);
}

void Headless::requestShutdown()
{
    if (m_closedDown) {
        Q_EMIT closedDown();
        return;
    }
    m_closing = true;
    program().closing = true;
    m_retry.stop();
    // The search ends at its next port and closes down then.
    if (m_searching)
        return;
    finishShutdown();
}

void Headless::finishShutdown()
{
    if (m_closedDown)
        return;
    // A scan under way holds the port and the database; it gives up early and is let finish.
    if (m_cycle.scanning() || program().portLoans > 0) {
        QTimer::singleShot(100, this, &Headless::finishShutdown);
        return;
    }
    m_cycle.stop();
    m_closedDown = true;
    report(QStringLiteral("Clarow closed down."));
    CloseDown();
    Q_EMIT closedDown();
}

} // namespace clarow
