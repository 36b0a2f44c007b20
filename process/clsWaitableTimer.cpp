#include "process/clsWaitableTimer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <stdexcept>

void clsWaitableTimer::Wait(qint32 MilliSeconds)
{
    if (!QCoreApplication::instance())
        throw std::runtime_error("[clsWaitableTimer.Wait]No application object, so no event loop "
                                 "can run during the wait");

    QEventLoop loop;
    QTimer timer;
    // A coarse timer may fire up to 5% late; short retry delays should not drift.
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::max<qint32>(0, MilliSeconds));
    loop.exec();
}
