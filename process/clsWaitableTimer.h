#pragma once

#include <QtGlobal>

// Waits a number of milliseconds while the event loop keeps running, so the window keeps
// painting and answering clicks. Each call arms a timer of its own: a wait started from a
// handler inside another wait cannot end the outer one early, and every wait ends.
class clsWaitableTimer
{
public:
    // A delay of 0 or less returns after one pass of the event loop. Throws
    // std::runtime_error when there is no application object to run events with.
    void Wait(qint32 MilliSeconds);
};
