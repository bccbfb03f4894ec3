#pragma once

class QWidget;

namespace clarow {

// The frame whose workspace holds the program's windows. A window just opened there asks it,
// through PlaceInWorkspace, to be seen whole; the frame grows, or moves and cuts the window.
class Workspace
{
public:
    virtual ~Workspace() = default;
    virtual void placeInWorkspace(QWidget *frame) = 0;
};

// Places a window just opened in a workspace (a sub-window of a frame that is a Workspace);
// nothing for a window of its own.
void PlaceInWorkspace(QWidget *frame);

} // namespace clarow
