#include "monitor/ui/Collection.h"

#include "shell/Database.h"
#include "shell/Program.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QTableView>
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
        // Without its window the program cannot monitor anything: close down and end.
        m_cycle.stop();
        CloseAll();
        QCoreApplication::exit(1);
    }
}

Collection::~Collection()
{
    m_cycle.stop();
    m_cycle.setView(nullptr);
}

int Collection::twipsToX(double twips) const
{
    const double tpp = program().twipsPerPixelX > 0 ? program().twipsPerPixelX : 15.0;
    return static_cast<int>(std::lround(twips / tpp));
}

int Collection::twipsToY(double twips) const
{
    const double tpp = program().twipsPerPixelY > 0 ? program().twipsPerPixelY : 15.0;
    return static_cast<int>(std::lround(twips / tpp));
}

void Collection::Form_Load()
{
    m_cycle.stop();

    FlexGrid1 = new QTableView(this);
    FlexGrid1->setObjectName(QStringLiteral("FlexGrid1"));
    FlexGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    FlexGrid1->verticalHeader()->hide();
    FlexGrid1->setGeometry(twipsToX(kGridLeft), twipsToY(kGridTop), twipsToX(kGridWidthAtLoad) + 5,
                           twipsToY(kHeaderHeight) + 7);

    ScanCycle::ApplyNameFallbacks();

    StatusBx = new QLineEdit(this);
    StatusBx->setObjectName(QStringLiteral("StatusBx"));
    StatusBx->setReadOnly(true);
    StatusBx->setFocusPolicy(Qt::NoFocus);
    StatusBx->setGeometry(FlexGrid1->x() + twipsToX(60), twipsToY(kBoxTop), twipsToX(kStatusWidth),
                          twipsToY(kBoxHeight));

    clarowBx = new QLineEdit(this);
    clarowBx->setObjectName(QStringLiteral("clarowBx"));
    clarowBx->setText(program().settings.LocationName);
    const int locationWidth = twipsToX(kLocationWidth);
    clarowBx->setGeometry(FlexGrid1->geometry().right() + 1 - locationWidth, twipsToY(kBoxTop),
                          locationWidth, twipsToY(kBoxHeight));

    resize(FlexGrid1->width() + twipsToX(kExtraWidth),
           FlexGrid1->height() + twipsToY(kExtraHeight));

    m_cycle.start();
}

void Collection::placeWindow()
{
    const QPoint at(twipsToX(program().settings.CfLeft), twipsToY(program().settings.CfTop));
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
}

void Collection::BuildFgrid() {}

void Collection::showStatus(const QString &text)
{
    if (StatusBx)
        StatusBx->setText(text);
}

void Collection::closeWindow()
{
    // Closed once the tick that asked for it has finished with the window.
    QTimer::singleShot(0, this, [this] {
        if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
            frame->close();
        else
            close();
    });
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
    event->accept();
}

} // namespace clarow
