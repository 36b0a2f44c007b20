// Megabytes per second through each progress parser, on about 100 MB of recorded tool output
// (tests/data/*.txt repeated) cut into the chunks the runner delivers: at most 1024 bytes,
// ending at the last line break inside them. Best of three passes, since the machine is shared.
// Prints: RESULT stageone_mbps VALUE MB/s, RESULT stagetwo_mbps VALUE MB/s.
#include "convert/ProgressParser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace {

// One block of recorded output, repeated until it is about 64 KiB, in runner-sized chunks.
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
    qsizetype offset = 0;
    while (offset < block.size()) {
        const QByteArray window = block.mid(offset, 1024);
        const qsizetype lineEnd = std::max(window.lastIndexOf('\n'), window.lastIndexOf('\r'));
        const qsizetype size = lineEnd >= 0 ? lineEnd + 1 : window.size();
        chunks.append(QString::fromUtf8(window.left(size)));
        offset += size;
    }
    return chunks;
}

template <typename Parse> double megabytesPerSecond(const QStringList &chunks, Parse parse)
{
    qint64 blockBytes = 0;
    for (const QString &chunk : chunks)
        blockBytes += chunk.toUtf8().size();
    const qint64 repeats = std::max<qint64>(1, 100'000'000 / blockBytes);

    double best = 1e30;
    int shown = 0;
    for (int pass = 0; pass < 3; ++pass) {
        QElapsedTimer clock;
        clock.start();
        for (qint64 r = 0; r < repeats; ++r)
            for (const QString &chunk : chunks)
                shown += parse(chunk) ? 1 : 0;
        best = std::min(best, clock.nsecsElapsed() / 1e9);
    }
    if (shown == 0)
        return 0; // the recorded output must move the bar, or the figure means nothing
    return double(blockBytes) * repeats / 1e6 / best;
}

} // namespace

int main()
{
    const QStringList stageOne = recordedChunks(QStringLiteral("conv-*.txt"));
    const QStringList stageTwo = recordedChunks(QStringLiteral("coder*.txt"));
    if (stageOne.isEmpty() || stageTwo.isEmpty()) {
        std::fprintf(stderr, "no recorded output in %s\n", VIDMORPH_TEST_DATA_DIR);
        return 1;
    }

    QChar spinner('-');
    const double one = megabytesPerSecond(stageOne, [&](const QString &chunk) {
        return ProgressParser::parseStageOne(chunk, spinner);
    });
    qint32 duration = 0;
    const double two = megabytesPerSecond(stageTwo, [&](const QString &chunk) {
        return ProgressParser::parseStageTwo(chunk, spinner, duration);
    });
    std::printf("RESULT stageone_mbps %.1f MB/s\n", one);
    std::printf("RESULT stagetwo_mbps %.1f MB/s\n", two);
    return one > 0 && two > 0 ? 0 : 1;
}
