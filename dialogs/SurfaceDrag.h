#pragma once

class QMouseEvent;
class QWidget;

// Moving a window by any free spot of its surface, as the program's windows all allow: a left
// press where no control lies hands the move to the window manager.
namespace SurfaceDrag {

// A left-button press on the window itself, not on one of its controls.
bool isSurfacePress(const QWidget *window, const QMouseEvent *event);

// Asks the window manager to move the window with the pointer; false where none can.
bool start(QWidget *window);

} // namespace SurfaceDrag
