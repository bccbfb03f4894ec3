#include "app/ui/MainMDI.h"

#include "app/CloseDown.h"
#include "core/Logging.h"

#include "app/Startup.h"
#include "app/ui/HelpAbout.h"
#include "core/Database.h"
#include "core/Errors.h"
#include "core/FindVarnex.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "core/Settings.h"
#include "core/WindowFit.h"
#include "firmware/ui/UpdCode.h"
#include "link/SerialPort.h"
#include "monitor/ScanCycle.h"
#include "monitor/ui/Collection.h"
#include "options/ui/Options.h"
#include "views/ui/SensorOptions.h"
#include "views/ui/ViewWindows.h"

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
    connect(addItem(tools, "SensorsMi", QStringLiteral("S&ensor Options")), &QAction::triggered, this,
            &MainMDI::SensorsMi_Click);
    connect(addItem(tools, "OptionsMi", QStringLiteral("&Main Options")), &QAction::triggered, this,
            &MainMDI::OptionsMi_Click);

    QMenu *data = bar->addMenu(QStringLiteral("&Data"));
    data->setObjectName(QStringLiteral("DataMi"));
    connect(addItem(data, "LogMi", QStringLiteral("&Log")), &QAction::triggered, this, &MainMDI::LogMi_Click);
    connect(addItem(data, "GraphMi", QStringLiteral("&Graph")), &QAction::triggered, this,
            &MainMDI::GraphMi_Click);

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
    m_chosenSize = MainWindowSizeIsDefault(s) ? size() : QSize();
}

void MainMDI::recordPlacement()
{
    // Where the user left the window is where it opens next time; a maximized or minimized
    // window keeps the place it had before.
    if (isMaximized() || isMinimized() || isFullScreen())
        return;
    Settings &s = program().settings;
    RecordPixelsX(s.MdiLeft, x());
    RecordPixelsY(s.MdiTop, y());
    RecordPixelsX(s.MdiWidth, width());
    RecordPixelsY(s.MdiHeight, height());
}

void MainMDI::grow(const QSize &shortBy)
{
    if (m_chosenSize.isEmpty() || isMaximized() || isMinimized() || isFullScreen())
        return;
    if (size() != m_chosenSize) {
        m_chosenSize = QSize(); // the user has sized it: that size stays
        return;
    }
    if (shortBy.width() <= 0 && shortBy.height() <= 0)
        return;
    const QScreen *s = screen();
    const QRect available = s ? s->availableGeometry() : QRect();
    // The frame's own border and caption stay on the screen as well.
    const QRect frame = frameGeometry();
    const QSize decoration = frame.size() - size();
    const QRect grown = GrownFrame(frame, shortBy, available);
    if (grown == frame)
        return;
    m_chosenSize = grown.size() - decoration;
    resize(m_chosenSize);
}

int MainMDI::workspaceHeight() const { return m_mdi->viewport()->height(); }

void MainMDI::flashForAlarm() { FlashWindow(5); }

void MainMDI::popupContextMenu(const QPoint &globalPos) { m_contextMi->popup(globalPos); }

void MainMDI::openSensorView(int choice)
{
    switch (choice) {
    case 1:
        SensorContMi_Click();
        break;
    case 2:
        LogContMi_Click();
        break;
    default:
        GraphContMi_Click();
        break;
    }
}

bool MainMDI::sensorOptionsAvailable() const
{
    const auto *item = findChild<QAction *>(QStringLiteral("SensorContMi"));
    return item && item->isEnabled();
}

void MainMDI::growToFit(QWidget *child)
{
    if (!child)
        return;
    const QSize room = m_mdi->viewport()->size();
    const QRect need = child->geometry();
    grow(QSize(need.right() + 1 - room.width(), need.bottom() + 1 - room.height()));
}

void MainMDI::placeInWorkspace(QWidget *frame)
{
    if (!frame)
        return;
    // A window just shown grows to what its layout needs once that has settled: it is
    // measured at that size. The room is what the workspace has without scroll bars: those
    // of a window still out of view go once it is inside.
    const QSize minimum = frame->minimumSize().expandedTo(frame->minimumSizeHint());
    grow(frame->size().expandedTo(minimum) - m_mdi->maximumViewportSize());
    const QRect placed = PlacedInside(frame->geometry(), m_mdi->maximumViewportSize(), minimum);
    if (placed != frame->geometry())
        frame->setGeometry(placed);
}

bool MainMDI::startUp()
{
    m_starting = true;
    Program &p = program();
    p.errorContext = kStartupContext;
    bool ok = true;
    try {
        LoadSettingsAndDatabase();
        ApplyMdiFallbacks(p.settings);
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            p.twipsPerPixelX = 1440.0 / screen->logicalDotsPerInchX();
            p.twipsPerPixelY = 1440.0 / screen->logicalDotsPerInchY();
        }
        placeFromSettings();
        show();
        QCoreApplication::processEvents();

        int result = NoVarnex;
        {
            // The search has the port to itself: a port test asked for meanwhile is told
            // the adapter is busy, a scan waits.
            PortLoan search(PortLoan::Long);
            result = FindAdapterAtStartup(*m_port, [this](int port) {
                if (m_closeRequested)
                    throw StartupCut{};
                statusBar()->showMessage(QStringLiteral("Looking for the Varnex on port %1").arg(port));
            });
        }
        statusBar()->clearMessage();
        if (result == 2) {
            p.adapterOK = true;
            dColl_Click();
        } else if (result == 1) {
            openUpdCode();
        } else if (result == 0) {
            MsgBox(VarnexNotFoundText(), QStringLiteral("Varnex not found"));
            OptionsMi_Click();
        }
    } catch (const StartupCut &) {
        ok = false;
    } catch (const std::exception &e) {
        MsgBox(StartupFailureText(e), QStringLiteral("Error loading Clarow"));
        ok = false;
        m_failed = true;
        m_closedDown = true; // nothing to close down: the database never opened
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
    if (c->loadFailed()) {
        // Without its monitoring window the program cannot monitor anything: close down, end.
        delete c;
        CloseDown();
        QCoreApplication::exit(1);
        return;
    }
    m_collectionWindow = m_mdi->addSubWindow(c);
    m_collectionWindow->setAttribute(Qt::WA_DeleteOnClose);
    m_collectionWindow->setWindowTitle(c->windowTitle());
    // The frame opens around the window's own size, never collapsed to its caption.
    m_collectionWindow->resize(m_collectionWindow->sizeHint());
    m_collectionWindow->show();
    placeInWorkspace(m_collectionWindow);
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
    m_updCodeWindow->resize(m_updCodeWindow->sizeHint());
    m_updCodeWindow->show();
    placeInWorkspace(m_updCodeWindow);
}

void MainMDI::GraphContMi_Click()
{
    program().lastViewChoice = 0;
    GraphMi_Click();
}

void MainMDI::LogContMi_Click()
{
    program().lastViewChoice = 2;
    LogMi_Click();
}

void MainMDI::LogMi_Click() { OpenLogView(m_mdi); }

void MainMDI::GraphMi_Click() { OpenGraphView(m_mdi); }

void MainMDI::SensorContMi_Click()
{
    program().lastViewChoice = 1;
    SensorsMi_Click();
}

void MainMDI::rebuildGrid()
{
    if (Collection *c = collection())
        c->BuildFgrid();
}

void MainMDI::OptionsMi_Click()
{
    if (m_optionsWindow) {
        m_mdi->setActiveSubWindow(m_optionsWindow);
        return;
    }
    auto *options = new Options;
    options->setRebuildGrid([this] { rebuildGrid(); });
    options->setOpenFirmwareUpdate([this] { openUpdCode(); });
    m_optionsWindow = m_mdi->addSubWindow(options);
    m_optionsWindow->setAttribute(Qt::WA_DeleteOnClose);
    m_optionsWindow->move(TwipsToPixelsX(300), TwipsToPixelsY(200));
    m_optionsWindow->resize(TwipsToPixelsX(9810), TwipsToPixelsY(7335));
    m_optionsWindow->show();
    placeInWorkspace(m_optionsWindow);
}

void MainMDI::SensorsMi_Click()
{
    // Always on the sensor selected now: an open window for another one goes first.
    if (m_sensorOptionsWindow && !m_sensorOptionsWindow->close())
        return; // still saving; it closes once the save is over
    const qsizetype length = program().selectedSensor.size();
    if (length != 16 && length != 19) {
        MsgBox(QStringLiteral("No sensor is selected"), QStringLiteral("Clarow"));
        return;
    }
    auto *sensor = new SensorOptions;
    sensor->setRebuildGrid([this] { rebuildGrid(); });
    m_sensorOptionsWindow = m_mdi->addSubWindow(sensor);
    m_sensorOptionsWindow->setAttribute(Qt::WA_DeleteOnClose);
    m_sensorOptionsWindow->show();
    placeInWorkspace(m_sensorOptionsWindow);
}

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
    // A window that borrowed the port (the port test) is in the middle of an exchange too.
    return (c && c->cycle().scanning()) || program().portLoans > 0;
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
    // The other windows close as the user would close them (the graph remembers its place).
    m_mdi->closeAllSubWindows();
    if (!m_closedDown) {
        m_closedDown = true;
        recordPlacement();
        CloseDown();
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
        // The grid keeps its last layout until the next scan rebuilds it.
        try {
            c->BuildFgrid();
        } catch (const std::exception &e) {
            qCWarning(lcApp).noquote() << QStringLiteral("Status grid not rebuilt: %1").arg(QString::fromUtf8(e.what()));
        }
    }
}

} // namespace clarow
