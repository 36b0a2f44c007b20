#pragma once

#include <QString>
#include <QtGlobal>

// Spans the construction of the QApplication: a display that cannot be opened (a stale
// DISPLAY, Wayland without a compositor) ends the program with the one line given and exit
// status 1, rather than Qt's abort; what Qt says meanwhile is held back, and passed on once
// the display is open.
class DisplayOpening
{
public:
    explicit DisplayOpening(const QString &failureLine);
    ~DisplayOpening();
    DisplayOpening(const DisplayOpening &) = delete;
    DisplayOpening &operator=(const DisplayOpening &) = delete;

    static constexpr int FailureExitCode = 1;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);
};
