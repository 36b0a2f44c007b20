// Megabytes per second through each progress parser, on recorded tool output (tests/data/*.txt
// repeated) cut into the chunks the runner delivers: at most 1024 bytes, ending at the last line
// break inside them. Processor time, the best of several passes, since the machine is shared.
//   parser_throughput [MEGABYTES [PASSES]]      (default 100 MB, 3 passes)
// Prints: RESULT stageone_mbps VALUE MB/s, RESULT stagetwo_mbps VALUE MB/s.
#include "convert/ProgressParser.h"
#include "process/OutputChunker.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// Processor time of this process: other programs on the shared machine do not add to it.
double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// One block of recorded output, repeated until it is about 64 KiB, in the runner's chunks.
QStringList recordedChunks(const QString &pattern)
{
    QByteArray recorded;
    const QDir data(QStringLiteral(VIDMORPH_TEST_DATA_DIR));
    for (const QString &name : data.entryList({pattern}, QDir::Files, QDir::Name)) {
        QFile file(data.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            recorded += file.readAll();
    }
    if (recorded.isEmpty())
        return {};
    QByteArray block;
    while (block.size() < 64 * 1024)
        block += recorded;

    QStringList chunks;
    OutputChunker chunker;
    chunker.append(block);
    while (const std::optional<QString> chunk = chunker.next(true))
        chunks.append(*chunk);
    return chunks;
}

template <typename Parse>
double megabytesPerSecond(const QStringList &chunks, qint64 bytes, int passes, Parse parse)
{
    qint64 blockBytes = 0;
    for (const QString &chunk : chunks)
        blockBytes += chunk.toUtf8().size();
    const qint64 repeats = std::max<qint64>(1, bytes / blockBytes);

    double best = 1e30;
    int shown = 0;
    for (int pass = 0; pass < passes; ++pass) {
        const double start = cpuSeconds();
        for (qint64 r = 0; r < repeats; ++r)
            for (const QString &chunk : chunks)
                shown += parse(chunk) ? 1 : 0;
        best = std::min(best, cpuSeconds() - start);
    }
    if (shown == 0)
        return 0; // the recorded output must move the bar, or the figure means nothing
    return double(blockBytes) * repeats / 1e6 / best;
}

} // namespace

int main(int argc, char *argv[])
{
    const qint64 bytes = (argc > 1 ? std::atoll(argv[1]) : 100) * 1'000'000;
    const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const QStringList stageOne = recordedChunks(QStringLiteral("conv-*.txt"));
    const QStringList stageTwo = recordedChunks(QStringLiteral("coder*.txt"));
    if (stageOne.isEmpty() || stageTwo.isEmpty()) {
        std::fprintf(stderr, "no recorded output in %s\n", VIDMORPH_TEST_DATA_DIR);
        return 1;
    }

    QChar spinner('-');
    const double one = megabytesPerSecond(stageOne, bytes, passes, [&](const QString &chunk) {
        return ProgressParser::parseStageOne(chunk, spinner);
    });
    qint32 duration = 0;
    const double two = megabytesPerSecond(stageTwo, bytes, passes, [&](const QString &chunk) {
        return ProgressParser::parseStageTwo(chunk, spinner, duration);
    });
    std::printf("RESULT stageone_mbps %.1f MB/s\n", one);
    std::printf("RESULT stagetwo_mbps %.1f MB/s\n", two);
    return one > 0 && two > 0 ? 0 : 1;
}
