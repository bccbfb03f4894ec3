#include "options/ui/Options.h"

#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "core/Settings.h"
#include "core/ui/Fields.h"
#include "link/Clock.h"
#include "link/SerialPort.h"
#include "options/ui/AlarmsTab.h"
#include "options/ui/GeneralTab.h"
#include "options/ui/LoggingTab.h"
#include "options/ui/NotifyTab.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace clarow {

Options::Options(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Main Options"));

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("Tabs"));
    m_general = new GeneralTab;
    m_tabs->addTab(m_general, QStringLiteral("General"));
    m_tabs->setTabToolTip(0, QStringLiteral("General options"));
    m_logging = new LoggingTab;
    m_tabs->addTab(m_logging, QStringLiteral("Logging and display"));
    m_tabs->setTabToolTip(1, QStringLiteral("Logging parameters and display colors"));
    m_alarms = new AlarmsTab;
    m_tabs->addTab(m_alarms, QStringLiteral("Alarm options"));
    m_tabs->setTabToolTip(2, QStringLiteral("Alarm limits and mailing options"));
    m_notify = new NotifyTab;
    m_tabs->addTab(m_notify, QStringLiteral("Notifications"));
    m_tabs->setTabToolTip(3, QStringLiteral("Push notifications of alarms"));

    ApplyBtn = NewButton(this, "ApplyBtn", QStringLiteral("Apply"));
    CancelBtn = NewButton(this, "CancelBtn", QStringLiteral("Cancel"));
    ExitBtn = NewButton(this, "ExitBtn", QStringLiteral("OK"));
    connect(ApplyBtn, &QPushButton::clicked, this, [this] { ApplyBtn_Click(); });
    connect(CancelBtn, &QPushButton::clicked, this, &Options::CancelBtn_Click);
    connect(ExitBtn, &QPushButton::clicked, this, &Options::ExitBtn_Click);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(ButtonRow({ApplyBtn, CancelBtn, ExitBtn}));

    // Every edit on any page enables Apply.
    connect(m_general, &GeneralTab::changed, this, &Options::MarkChanged);
    connect(m_logging, &LoggingTab::changed, this, &Options::MarkChanged);
    connect(m_alarms, &AlarmsTab::changed, this, &Options::MarkChanged);
    connect(m_notify, &NotifyTab::changed, this, &Options::MarkChanged);
    connect(m_logging, &LoggingTab::coloursReset, this, &Options::rebuildGrid);
    connect(m_general, &GeneralTab::firmwareTooOld, this, [this] {
        if (m_openFirmwareUpdate)
            m_openFirmwareUpdate();
    });
    connect(m_general, &GeneralTab::portTestDone, this, [this] {
        if (m_closeAfterPortTest)
            QTimer::singleShot(0, this, &Options::closeWindow);
    });

    FillOptions();
    ApplyBtn->setEnabled(false);
    m_alarms->setTestMailEnabled(true);
    program().optionsOpen = true;
}

Options::~Options() { program().optionsOpen = false; }

OptionsForm Options::form() const
{
    OptionsForm f;
    m_general->store(f);
    m_logging->store(f);
    m_alarms->store(f);
    return f;
}

void Options::FillOptions()
{
    const OptionsForm f = clarow::FillOptions(program().settings);
    m_general->load(f);
    m_logging->load(f);
    m_alarms->load(f);
    MarkChanged();
}

void Options::MarkChanged()
{
    ApplyBtn->setEnabled(true);
    // A test mail goes out with the applied settings, never with half-edited ones.
    m_alarms->setTestMailEnabled(false);
}

void Options::ColBx_DblClick(int index) { m_logging->ColBx_DblClick(index); }

bool Options::portTestRunning() const { return m_general->portTestRunning(); }

void Options::rebuildGrid()
{
    if (m_rebuildGrid)
        m_rebuildGrid();
}

bool Options::ApplyBtn_Click()
{
    // A failed Apply changes nothing: the settings in use stay, and the boxes keep what was
    // typed so that it can be mended.
    OptionsForm f = form();
    if (const QString problem = m_notify->problem(); !problem.isEmpty()) {
        m_tabs->setCurrentWidget(m_notify);
        MsgBox(problem, QStringLiteral("Notifications"));
        return false;
    }
    try {
        ApplyAndSaveOptions(f, program(), Now());
        m_notify->save();
    } catch (const ClarowError &e) {
        applyFailed(e.number(), e.description());
        return false;
    } catch (const std::exception &e) {
        applyFailed(kErrDatabase, QString::fromLocal8Bit(e.what()));
        return false;
    }
    FillOptions();
    rebuildGrid();
    ApplyBtn->setEnabled(false);
    m_alarms->setTestMailEnabled(true);
    return true;
}

void Options::applyFailed(int number, const QString &description)
{
    if (program().settings.LogErrors)
        WriteLog(QStringLiteral("Error applying options: ") + description);
    ShowError(number, description);
}

void Options::ExitBtn_Click()
{
    // A failed Apply keeps the window open: the typed values are not lost.
    if (ApplyBtn->isEnabled() && !ApplyBtn_Click())
        return;
    closeWindow();
}

void Options::CancelBtn_Click() { closeWindow(); }

void Options::closeWindow() { CloseWindow(this); }

void Options::closeEvent(QCloseEvent *event)
{
    // The port test holds the port: the window goes once it has its answer.
    if (portTestRunning() && !program().closing) {
        m_closeAfterPortTest = true;
        event->ignore();
        return;
    }
    // Never close the port under another exchange: a scan, or a firmware transfer started
    // from this window's port test, which goes on after the window has closed.
    SerialPort *port = program().port;
    if (port && port->isOpen() && !PortInUse())
        port->close();
    program().optionsOpen = false;
    event->accept();
}

} // namespace clarow
