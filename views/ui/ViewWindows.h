#pragma once

class QMdiArea;
class QWidget;

namespace clarow {

class FullGraph;
class LogFrm;

// The hourglass pointer for the life of the guard.
class BusyPointer
{
public:
    BusyPointer();
    ~BusyPointer();
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;
    // The normal pointer back early (before a message box).
    void release();

private:
    bool m_active = true;
};

// The window frame of a view: its sub-window inside the main window, or itself.
[[nodiscard]] QWidget *FrameOf(QWidget *view);
// The workspace a view lives in, or nullptr for a window of its own.
[[nodiscard]] QMdiArea *AreaOf(QWidget *view);

// The open log / graph window in area (or the top-level one when area is nullptr).
[[nodiscard]] LogFrm *FindLogWindow(QMdiArea *area);
[[nodiscard]] FullGraph *FindGraphWindow(QMdiArea *area);

// The main window's "&Log": "No sensor selected" without a sensor; otherwise opens the log
// window, which loads as it opens, or leaves an open one as it is.
void OpenLogView(QMdiArea *area);
// The main window's "&Graph": the last DispHours hours of the selected sensor in the graph.
void OpenGraphView(QMdiArea *area);
// The graph window, opened (and placed) when it is not open yet.
FullGraph *GraphWindow(QMdiArea *area);

} // namespace clarow
