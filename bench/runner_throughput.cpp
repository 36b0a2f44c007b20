// A flood of tool output taken three ways, taking turns ROUNDS times (the best of each counts,
// since the machine is shared):
//  - through DOSOutputs, as a conversion takes it: 1024-byte chunks ending at line breaks,
//    each decoded and handed to a handler, and all of it kept as the run's text;
//  - through the least any reader of a tool must do here: QProcess reading the pipe, each
//    read decoded from UTF-8 and kept, with no chunks and no handler (the floor);
//  - piped into cat, which neither decodes nor keeps anything.
// Wall time, and the processor time of the reader alone (the tool writing the bytes is the
// same in all three and left out).
//   runner_throughput [MEGABYTES [ROUNDS]]       (default 200 MB, 3 rounds)
// Prints one line: megabytes, then wall and CPU seconds of the runner, the floor and cat.
#include "headless/ConsoleMessageSink.h"
#include "process/DOSOutputs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStringDecoder>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Best
{
    double wall = 1e9;
    double cpu = 1e9;
    void keep(double seconds, double cpuSeconds)
    {
        wall = std::min(wall, seconds);
        cpu = std::min(cpu, cpuSeconds);
    }
};

// Reads the writer's flood with a bare QProcess; returns the characters kept.
qint64 floorRead(const QString &writer, const QString &megabytes)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString kept;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::readyRead, &process,
                     [&] { kept += decoder.decode(process.readAll()); });
    QObject::connect(&process, &QProcess::finished, &loop, [&] {
        kept += decoder.decode(process.readAll());
        loop.quit();
    });
    process.start(writer, {"flood", megabytes});
    loop.exec();
    return kept.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString megabytes = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("200");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const QString writer = QStringLiteral(OUTPUTWRITER);
    const qint64 expected = megabytes.toLongLong() * 1000000;

    ConsoleMessageSink messages;
    DOSOutputs runner(&messages);
    qint64 received = 0;
    QObject::connect(&runner, &DOSOutputs::ReceiveOutputs, &runner,
                     [&received](const QString &chunk) { received += chunk.size(); });
    const CommandLine flood = CommandLine::fromArguments(writer, {"flood", megabytes});

    Best throughRunner, throughFloor, throughCat;
    bool complete = true;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        received = 0;
        double cpu = ownCpuSeconds();
        clock.start();
        runner.ExecuteCommand(flood);
        throughRunner.keep(clock.nsecsElapsed() / 1e9, ownCpuSeconds() - cpu);
        complete = complete && received == expected;

        cpu = ownCpuSeconds();
        clock.start();
        complete = complete && floorRead(writer, megabytes) == expected;
        throughFloor.keep(clock.nsecsElapsed() / 1e9, ownCpuSeconds() - cpu);

        // bash's `time` on cat alone reports cat's processor time, without the writer's.
        QProcess pipeline;
        pipeline.setProcessChannelMode(QProcess::MergedChannels);
        clock.start();
        pipeline.start(
            QStringLiteral("bash"),
            {"-c", "TIMEFORMAT='%3U %3S'; \"$0\" flood \"$1\" | { time cat > /dev/null; } 2>&1",
             writer, megabytes});
        pipeline.waitForFinished(-1);
        const double wall = clock.nsecsElapsed() / 1e9;
        const QList<QByteArray> times = pipeline.readAll().simplified().split(' ');
        complete = complete && times.size() == 2;
        throughCat.keep(wall, times.value(0).toDouble() + times.value(1).toDouble());
    }

    std::printf("%.1f %.3f %.3f %.3f %.3f %.3f %.3f\n", expected / 1e6, throughRunner.wall,
                throughRunner.cpu, throughFloor.wall, throughFloor.cpu, throughCat.wall,
                throughCat.cpu);
    return complete ? 0 : 1;
}
