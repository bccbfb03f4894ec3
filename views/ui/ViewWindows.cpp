#include "views/ui/ViewWindows.h"

#include "core/Program.h"
#include "core/Prompter.h"
#include "core/ui/Workspace.h"
#include "views/LogData.h"
#include "views/ui/FullGraph.h"
#include "views/ui/LogFrm.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

namespace clarow {

namespace {

// A sensor identifier has at least its 16 hexadecimal characters.
constexpr int kSensorIdLength = 16;

template <class View>
View *FindView(QMdiArea *area)
{
    if (!area) {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *v = qobject_cast<View *>(w); v && v->isVisible())
                return v;
        }
        return nullptr;
    }
    for (QMdiSubWindow *sub : area->subWindowList()) {
        if (auto *v = qobject_cast<View *>(sub->widget()))
            return v;
    }
    return nullptr;
}

// Shows a new view inside the workspace (or as a window of its own); it goes when closed.
template <class View>
View *AddView(QMdiArea *area)
{
    auto *view = new View;
    if (!area) {
        view->setAttribute(Qt::WA_DeleteOnClose);
        view->show();
        return view;
    }
    QMdiSubWindow *sub = area->addSubWindow(view);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(view->windowTitle());
    sub->show();
    return view;
}

bool SensorSelected(const QString &what)
{
    if (program().selectedSensor.size() >= kSensorIdLength)
        return true;
    MsgBox(QStringLiteral("No sensor is selected. Please select a sensor\rfrom the list to view the ") + what
               + QLatin1Char('.'),
           QStringLiteral("No sensor selected"));
    return false;
}

} // namespace

BusyPointer::BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }

BusyPointer::~BusyPointer() { release(); }

void BusyPointer::release()
{
    if (m_active)
        QApplication::restoreOverrideCursor();
    m_active = false;
}

QWidget *FrameOf(QWidget *view)
{
    if (auto *sub = qobject_cast<QMdiSubWindow *>(view->parentWidget()))
        return sub;
    return view;
}

QMdiArea *AreaOf(QWidget *view)
{
    if (auto *sub = qobject_cast<QMdiSubWindow *>(view->parentWidget()))
        return sub->mdiArea();
    return nullptr;
}

LogFrm *FindLogWindow(QMdiArea *area) { return FindView<LogFrm>(area); }

FullGraph *FindGraphWindow(QMdiArea *area) { return FindView<FullGraph>(area); }

void OpenLogView(QMdiArea *area)
{
    if (!SensorSelected(QStringLiteral("data log")))
        return;
    if (LogFrm *open = FindLogWindow(area)) {
        if (area)
            area->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(FrameOf(open)));
        return;
    }
    LogFrm *log = AddView<LogFrm>(area);
    log->Form_Load();
    PlaceInWorkspace(FrameOf(log));
}

FullGraph *GraphWindow(QMdiArea *area)
{
    if (FullGraph *open = FindGraphWindow(area)) {
        if (area)
            area->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(FrameOf(open)));
        return open;
    }
    FullGraph *graph = AddView<FullGraph>(area);
    graph->Form_Load();
    PlaceInWorkspace(FrameOf(graph));
    return graph;
}

void OpenGraphView(QMdiArea *area)
{
    if (!SensorSelected(QStringLiteral("graph")))
        return;
    const QString sensor = program().selectedSensor;
    LoadResult r;
    {
        BusyPointer busy;
        r = LoadRecentData(logData(), sensor, program().settings.DispHours);
    }
    if (r.outcome == LoadOutcome::Failed) {
        ReportLoadFailure(sensor, r);
        return;
    }
    // Too few readings: the window does not open (an open one closes) and says so.
    FullGraph *open = FindGraphWindow(area);
    if (logData().RecCount < 3 && !open) {
        MsgBox(QStringLiteral("There is no data to show"), QStringLiteral("No data"));
        return;
    }
    (open ? open : GraphWindow(area))->LoadGraph();
}

} // namespace clarow
