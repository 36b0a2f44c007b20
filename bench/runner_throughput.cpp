// Time to take a flood of tool output through DOSOutputs, against the same bytes piped
// into cat. Each is timed three times, taking turns, and the best time counts, since the
// machine is shared. Prints: megabytes, seconds through the runner, seconds through cat.
#include "process/DOSOutputs.h"
#include "headless/ConsoleMessageSink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString megabytes = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("200");
    const QString writer = QStringLiteral(OUTPUTWRITER);

    ConsoleMessageSink messages;
    DOSOutputs runner(&messages);
    qint64 received = 0;
    QObject::connect(&runner, &DOSOutputs::ReceiveOutputs, &runner,
                     [&received](const QString &chunk) { received += chunk.size(); });
    const CommandLine flood = CommandLine::fromArguments(writer, {"flood", megabytes});

    double runnerSeconds = 1e9;
    double catSeconds = 1e9;
    bool complete = true;
    QElapsedTimer clock;
    for (int round = 0; round < 3; ++round) {
        received = 0;
        clock.start();
        runner.ExecuteCommand(flood);
        runnerSeconds = std::min(runnerSeconds, clock.nsecsElapsed() / 1e9);
        complete = complete && received == megabytes.toLongLong() * 1000000;

        QProcess pipeline;
        clock.start();
        pipeline.start(QStringLiteral("/bin/sh"),
                       {"-c", "\"$0\" flood \"$1\" | cat > /dev/null", writer, megabytes});
        pipeline.waitForFinished(-1);
        catSeconds = std::min(catSeconds, clock.nsecsElapsed() / 1e9);
    }

    std::printf("%.1f %.3f %.3f\n", received / 1e6, runnerSeconds, catSeconds);
    return complete ? 0 : 1;
}
