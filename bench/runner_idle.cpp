// Processor time this process spends while its tool sleeps without a word.
// Prints: seconds of the run, CPU seconds (user + system) used meanwhile.
#include "process/DOSOutputs.h"
#include "headless/ConsoleMessageSink.h"

#include <QCoreApplication>

#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 10;

    ConsoleMessageSink messages;
    DOSOutputs runner(&messages);
    const double before = cpuSeconds();
    runner.ExecuteCommand(CommandLine::fromArguments(QStringLiteral(OUTPUTWRITER),
                                                     {"sleep", QString::number(seconds * 1000)}));
    std::printf("%d %.4f\n", seconds, cpuSeconds() - before);
    return runner.lastResult().exitCode;
}
