#include "shell/ui/MainMDI.h"

#include "firmware/ui/UpdCode.h"
#include "link/SerialPort.h"
#include "monitor/ScanCycle.h"
#include "monitor/ui/Collection.h"
#include "shell/Database.h"
#include "shell/Errors.h"
#include "shell/Program.h"
#include "shell/Prompter.h"
#include "shell/Settings.h"
#include "shell/Startup.h"
#include "shell/ui/HelpAbout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

namespace clarow {

namespace {
constexpr int kStartupContext = 25;

// Thrown from inside the adapter search when a close request arrives during start-up.
struct StartupCut
{
};

QAction *addItem(QMenu *menu, const char *name, const QString &caption)
{
    QAction *a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    return a;
}
} // namespace

MainMDI::MainMDI(QWidget *parent)
    : QMainWindow(parent)
    , m_port(MakeSerialPort())
{
    setObjectName(QStringLiteral("MainMDI"));
    setWindowTitle(QStringLiteral("Clarow by Quillmark"));
    program().port = m_port.get();

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(QStringLiteral("MdiArea"));
    // A monitoring window wider or taller than the frame stays reachable.
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    buildMenus();
}

MainMDI::~MainMDI()
{
    if (program().port == m_port.get())
        program().port = nullptr;
}

void MainMDI::buildMenus()
{
    QMenuBar *bar = menuBar();

    QMenu *cont = bar->addMenu(QStringLiteral("&Controls"));
    cont->setObjectName(QStringLiteral("ContMi"));
    connect(addItem(cont, "dCollMi", QStringLiteral("Start &Data collection")), &QAction::triggered,
            this, &MainMDI::dColl_Click);
    connect(addItem(cont, "ExitMi", QStringLiteral("E&xit")), &QAction::triggered, this,
            &QWidget::close);

    QMenu *tools = bar->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("ToolsMi"));
    addItem(tools, "SensorsMi", QStringLiteral("S&ensor Options"));
    addItem(tools, "OptionsMi", QStringLiteral("&Main Options"));

    QMenu *data = bar->addMenu(QStringLiteral("&Data"));
    data->setObjectName(QStringLiteral("DataMi"));
    addItem(data, "LogMi", QStringLiteral("&Log"));
    addItem(data, "GraphMi", QStringLiteral("&Graph"));

    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("HelpMi"));
    connect(addItem(help, "AboutMi", QStringLiteral("&About")), &QAction::triggered, this,
            &MainMDI::openAbout);

    // Shown only as the status grid's context menu.
    m_contextMi = new QMenu(QStringLiteral("Context"), this);
    m_contextMi->setObjectName(QStringLiteral("ContextMi"));
    connect(addItem(m_contextMi, "SensorContMi", QStringLiteral("Sensor Options")),
            &QAction::triggered, this, &MainMDI::SensorContMi_Click);
    connect(addItem(m_contextMi, "LogContMi", QStringLiteral("Log")), &QAction::triggered, this,
            &MainMDI::LogContMi_Click);
    connect(addItem(m_contextMi, "GraphContMi", QStringLiteral("Graph")), &QAction::triggered,
            this, &MainMDI::GraphContMi_Click);
}

void MainMDI::placeFromSettings()
{
    const Settings &s = program().settings;
    move(TwipsToPixelsX(s.MdiLeft), TwipsToPixelsY(s.MdiTop));
    resize(TwipsToPixelsX(s.MdiWidth), TwipsToPixelsY(s.MdiHeight));
}

bool MainMDI::startUp()
{
    m_starting = true;
    Program &p = program();
    p.errorContext = kStartupContext;
    bool ok = true;
    try {
        LoadOptions();
        OpenDatabase();
        ApplyMdiFallbacks(p.settings);
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            p.twipsPerPixelX = 1440.0 / screen->logicalDotsPerInchX();
            p.twipsPerPixelY = 1440.0 / screen->logicalDotsPerInchY();
        }
        placeFromSettings();
        show();
        QCoreApplication::processEvents();

        const int result = FindAdapterAtStartup(*m_port, [this](int port) {
            if (m_closeRequested)
                throw StartupCut{};
            statusBar()->showMessage(QStringLiteral("Looking for the Varnex on port %1").arg(port));
        });
        statusBar()->clearMessage();
        if (result == 2) {
            p.adapterOK = true;
            dColl_Click();
        } else if (result == 1) {
            openUpdCode();
        } else if (result == 0) {
            MsgBox(QStringLiteral("The Varnex was not found. Please\rselect and test the port number manually."),
                   QStringLiteral("Varnex not found"));
        }
    } catch (const StartupCut &) {
        ok = false;
    } catch (const ClarowError &e) {
        MsgBox(StartupErrorText(p.errorContext, e.number(), e.description()),
               QStringLiteral("Error loading Clarow"));
        ok = false;
        m_failed = true;
        m_closedDown = true; // nothing to close down: the database never opened
    } catch (const std::exception &e) {
        MsgBox(StartupErrorText(p.errorContext, kErrDatabase, QString::fromLocal8Bit(e.what())),
               QStringLiteral("Error loading Clarow"));
        ok = false;
        m_failed = true;
        m_closedDown = true;
    }
    m_starting = false;
    m_loaded = true;
    if (m_closeRequested)
        QTimer::singleShot(0, this, &QWidget::close);
    return ok;
}

Collection *MainMDI::collection() const
{
    return m_collectionWindow ? qobject_cast<Collection *>(m_collectionWindow->widget()) : nullptr;
}

void MainMDI::dColl_Click()
{
    if (m_collectionWindow) {
        m_mdi->setActiveSubWindow(m_collectionWindow);
        return;
    }
    auto *c = new Collection;
    m_collectionWindow = m_mdi->addSubWindow(c);
    m_collectionWindow->setAttribute(Qt::WA_DeleteOnClose);
    m_collectionWindow->setWindowTitle(c->windowTitle());
    m_collectionWindow->show();
}

void MainMDI::openUpdCode()
{
    if (m_updCodeWindow) {
        m_mdi->setActiveSubWindow(m_updCodeWindow);
        return;
    }
    auto *w = new UpdCode(*m_port);
    connect(w, &UpdCode::startMonitoring, this, &MainMDI::dColl_Click);
    m_updCodeWindow = m_mdi->addSubWindow(w);
    m_updCodeWindow->setAttribute(Qt::WA_DeleteOnClose);
    m_updCodeWindow->setWindowTitle(w->windowTitle());
    m_updCodeWindow->show();
}

void MainMDI::GraphContMi_Click() { program().lastViewChoice = 0; }

void MainMDI::LogContMi_Click() { program().lastViewChoice = 2; }

void MainMDI::SensorContMi_Click() { program().lastViewChoice = 1; }

void MainMDI::FlashWindow(int) { QApplication::alert(this); }

void MainMDI::openAbout()
{
    auto *about = new HelpAbout(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
}

void MainMDI::requestShutdown()
{
    m_closeRequested = true;
    // A reading or a mail under way gives up early, so the close-down is not kept waiting.
    program().closing = true;
    close();
}

bool MainMDI::scanInProgress() const
{
    const Collection *c = collection();
    return c && c->cycle().scanning();
}

void MainMDI::closeEvent(QCloseEvent *event)
{
    if (program().upgrading) {
        event->ignore();
        // Asked to end by the system: the transfer gives up, then the close-down follows.
        if (program().closing)
            QTimer::singleShot(100, this, &QWidget::close);
        return;
    }
    // The start-up and a running scan hold the port and the database; close down once they
    // have let go of them.
    if (m_starting || scanInProgress()) {
        m_closeRequested = true;
        event->ignore();
        if (!m_starting)
            QTimer::singleShot(100, this, &QWidget::close);
        return;
    }
    if (m_collectionWindow && !m_collectionWindow->close()) {
        event->ignore();
        return;
    }
    if (!m_closedDown) {
        m_closedDown = true;
        try {
            CloseAll();
        } catch (...) {
            // Nothing more can be saved; end at once.
        }
        Q_EMIT closedDown();
    }
    event->accept();
    QCoreApplication::quit();
}

void MainMDI::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!m_loaded || isMinimized())
        return;
    if (Collection *c = collection()) {
        try {
            c->BuildFgrid();
        } catch (...) {
        }
    }
}

} // namespace clarow
