// Longest gap between the ticks of a 10 ms timer on the runner's thread while a tool floods
// it with output. Prints: megabytes, ticks, longest gap in milliseconds.
#include "process/DOSOutputs.h"
#include "headless/ConsoleMessageSink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString megabytes = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("200");

    ConsoleMessageSink messages;
    DOSOutputs runner(&messages);
    // Stands in for the progress handlers, which look at every chunk.
    qint64 lineBreaks = 0;
    QObject::connect(&runner, &DOSOutputs::ReceiveOutputs, &runner,
                     [&lineBreaks](const QString &chunk) { lineBreaks += chunk.count('\n'); });

    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        ++ticks;
    });
    clock.start();
    ticker.start(10);
    runner.ExecuteCommand(
        CommandLine::fromArguments(QStringLiteral(OUTPUTWRITER), {"flood", megabytes}));
    longestGap = std::max(longestGap, clock.nsecsElapsed() - lastTick);

    std::printf("%s %d %.1f\n", qPrintable(megabytes), ticks, longestGap / 1e6);
    return lineBreaks > 0 ? 0 : 1;
}
