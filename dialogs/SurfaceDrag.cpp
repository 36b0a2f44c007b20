#include "dialogs/SurfaceDrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace SurfaceDrag {

bool isSurfacePress(const QWidget *window, const QMouseEvent *event)
{
    return event->button() == Qt::LeftButton && !window->childAt(event->position().toPoint());
}

bool start(QWidget *window)
{
    QWindow *handle = window->windowHandle();
    return handle && handle->startSystemMove();
}

} // namespace SurfaceDrag
