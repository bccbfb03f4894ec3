#include "monitor/ui/Collection.h"

#include "core/ui/Fields.h"
#include "monitor/ui/FlexGrid.h"
#include "monitor/ui/MonitorHost.h"

#include "core/Database.h"
#include "core/Program.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMenu>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QTimer>

#include <cmath>
#include <exception>

namespace clarow {

namespace {
// Layout in twips, as the window positions are stored.
constexpr double kGridLeft = 600;
constexpr double kGridTop = 600;
constexpr double kGridWidthAtLoad = 2200 + 4000 + 1500; // Sensor, Location, Temperature
constexpr double kHeaderHeight = 660;
constexpr double kBoxTop = 120;
constexpr double kBoxHeight = 315;
constexpr double kStatusWidth = 4000;
constexpr double kLocationWidth = 3000;
constexpr double kExtraWidth = 1350;
constexpr double kExtraHeight = 1500;
} // namespace

Collection::Collection(QWidget *parent) : QWidget(parent), m_cycle(this)
{
    setObjectName(QStringLiteral("Collection"));
    setWindowTitle(QStringLiteral("Monitoring"));
    try {
        Form_Load();
    } catch (const std::exception &) {
        // Without its window the program cannot monitor anything: whoever opened it closes
        // down and ends.
        m_cycle.stop();
        m_loadFailed = true;
    }
}

Collection::~Collection()
{
    m_cycle.stop();
    m_cycle.setView(nullptr);
}

void Collection::Form_Load()
{
    m_cycle.stop();

    // The grid reads the temperature scale for its header: the settings are loaded by now.
    ApplyNameFallbacks(program().settings);
    FlexGrid1 = new FlexGrid(this, this);
    FlexGrid1->move(TwipsToPixelsX(kGridLeft), TwipsToPixelsY(kGridTop));

    StatusBx = Named(new QLineEdit(this), "StatusBx");
    StatusBx->setReadOnly(true);
    StatusBx->setFocusPolicy(Qt::NoFocus);
    StatusBx->setGeometry(FlexGrid1->x() + TwipsToPixelsX(60), TwipsToPixelsY(kBoxTop), TwipsToPixelsX(kStatusWidth),
                          TwipsToPixelsY(kBoxHeight));

    clarowBx = Named(new QLineEdit(this), "clarowBx");
    clarowBx->setText(program().settings.LocationName);
    const int locationWidth = TwipsToPixelsX(kLocationWidth);
    clarowBx->setGeometry(FlexGrid1->geometry().right() + 1 - locationWidth, TwipsToPixelsY(kBoxTop),
                          locationWidth, TwipsToPixelsY(kBoxHeight));

    m_loadSize = QSize(FlexGrid1->width() + TwipsToPixelsX(kExtraWidth),
                       FlexGrid1->height() + TwipsToPixelsY(kExtraHeight));
    resize(m_loadSize);

    m_cycle.start();
}

void Collection::placeWindow()
{
    const QPoint at(TwipsToPixelsX(program().settings.CfLeft), TwipsToPixelsY(program().settings.CfTop));
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
        frame->move(at);
    else if (isWindow())
        move(at);
}

void Collection::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    placeWindow();
    // Back from maximized or minimized, the window fits its grid again.
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget())) {
        connect(sub, &QMdiSubWindow::windowStateChanged, this,
                [this](Qt::WindowStates before, Qt::WindowStates now) {
                    if ((before & (Qt::WindowMaximized | Qt::WindowMinimized)) != (now & (Qt::WindowMaximized | Qt::WindowMinimized)))
                        QTimer::singleShot(0, this, [this] { BuildFgrid(); });
                });
    }
}

void Collection::BuildFgrid()
{
    if (FlexGrid1)
        FlexGrid1->BuildFgrid();
}

MonitorHost *Collection::host() const { return dynamic_cast<MonitorHost *>(window()); }

QWidget *Collection::frame()
{
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
        return sub;
    return this;
}

QDateTime Collection::lastGoodRead() const { return m_cycle.LastGoodRead; }

int Collection::mainInnerHeightTwips() const
{
    const MonitorHost *main = host();
    const int px = main ? main->workspaceHeight() : height();
    return static_cast<int>(std::lround(px * TwipsPerPixelY()));
}

int Collection::monitorInnerHeightTwips() const
{
    return static_cast<int>(std::lround(height() * TwipsPerPixelY()));
}

bool Collection::windowsMinimized() const
{
    const QWidget *sub = qobject_cast<QMdiSubWindow *>(parentWidget());
    return (host() && window()->isMinimized()) || (sub && sub->isMinimized());
}

bool Collection::windowsMaximized() const
{
    // A maximized main window only gives the monitoring window more room; the monitoring
    // window itself keeps its size while it is maximized.
    const QWidget *sub = qobject_cast<QMdiSubWindow *>(parentWidget());
    return sub ? sub->isMaximized() : isMaximized();
}

bool Collection::programInFront() const
{
    const QWidget *active = QApplication::activeWindow();
    return active != nullptr && active == window();
}

void Collection::fitMonitor(std::optional<int> windowWidthTwips, std::optional<int> windowHeightTwips)
{
    QWidget *f = frame();
    if (windowWidthTwips || windowHeightTwips) {
        // The stored sizes are the window's outer size; inside the workspace the frame adds
        // its border and caption around this widget.
        const QSize border = f == this ? QSize() : f->size() - size();
        const int w = windowWidthTwips ? TwipsToPixelsX(*windowWidthTwips) : f->width();
        const int h = windowHeightTwips ? TwipsToPixelsY(*windowHeightTwips) : f->height();
        f->resize(w, h);
        if (f != this)
            resize(w - border.width(), h - border.height());
    }
    placeBoxes();
    if (MonitorHost *main = host())
        main->growToFit(f);
}

void Collection::placeBoxes()
{
    if (!FlexGrid1)
        return;
    StatusBx->move(FlexGrid1->x() + TwipsToPixelsX(60), StatusBx->y());
    clarowBx->move(FlexGrid1->geometry().right() + 1 - clarowBx->width(), clarowBx->y());
}

void Collection::flashAndBeep()
{
    if (MonitorHost *main = host())
        main->flashForAlarm();
    else
        QApplication::alert(this);
    QApplication::beep();
}

void Collection::showContextMenu(const QPoint &globalPos)
{
    if (MonitorHost *main = host())
        main->popupContextMenu(globalPos);
}

void Collection::openView(int choice)
{
    if (MonitorHost *main = host())
        main->openSensorView(choice);
}

bool Collection::sensorOptionsEnabled() const
{
    const MonitorHost *main = host();
    return !main || main->sensorOptionsAvailable();
}

void Collection::showStatus(const QString &text)
{
    if (StatusBx)
        StatusBx->setText(text);
}

void Collection::closeWindow()
{
    // Closed once the tick that asked for it has finished with the window.
    QTimer::singleShot(0, this, [this] { CloseWindow(this); });
}

void Collection::closeEvent(QCloseEvent *event)
{
    // A firmware transfer needs the program as it is until it ends.
    if (program().upgrading) {
        event->ignore();
        return;
    }
    // A scan holds the port and the database: the window goes once the scan has let go.
    if (m_cycle.scanning()) {
        event->ignore();
        QTimer::singleShot(100, this, [this] { closeWindow(); });
        return;
    }
    m_cycle.stop();
    recordPlacement();
    event->accept();
}

void Collection::recordPlacement()
{
    // Where the user left the window is where it opens next time; a maximized or minimized
    // window keeps the place it had before.
    QWidget *f = frame();
    if (f->isMaximized() || f->isMinimized())
        return;
    Settings &s = program().settings;
    RecordPixelsX(s.CfLeft, f->x());
    RecordPixelsY(s.CfTop, f->y());
}

} // namespace clarow
