#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>

// Whole-batch progress: which file of how many is converting, how much of the work is done and
// how long the rest will take. Work is counted in media seconds: a file takes one run over its
// length per pass (two passes for the formats that go through the intermediate file). The
// speed is measured from the runs' own progress, separately for each pass because the two
// encoders run at very different speeds, and smoothed so the estimate does not jump about.
// Several files may run at once; the files waiting for their turn are kept in list order.
// Pure bookkeeping over an injected clock: no processes, no timers.
class BatchProgress
{
public:
    // Milliseconds from any fixed point; must never go backwards.
    using Clock = std::function<qint64()>;

    BatchProgress();
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // A batch begins on the waiting files (the next first); each file takes `passes` runs, and
    // up to `jobs` files run at once.
    void begin(const QStringList &waiting, int passes, int jobs = 1);
    // The waiting files changed during the batch. Row 0 is the next file to start.
    void insertFiles(int row, const QStringList &paths);
    void removeFiles(int row, int count);
    // The length of a file in seconds once it is known; 0 or less when it cannot be read.
    void setDuration(const QString &path, double seconds);
    // The size of a file in bytes. Until its length is known, a file counts as long as its
    // size at the seconds per byte of the files whose length is known.
    void setSize(const QString &path, qint64 bytes);

    // The next waiting file starts; `key` names it from now on.
    void fileStarted(int key);
    // A run of that file has started; pass 0 is the first.
    void runStarted(int key, int pass);
    // How far its current run is, 0 to 1, as its tool reports it.
    void runProgress(int key, double fraction);
    // The file has ended: converted, failed, or refused before any run. A stopped file ends
    // with the batch and is not counted as done.
    void fileFinished(int key);

    int fileNumber() const { return std::min(m_finished + 1, fileCount()); }
    int fileCount() const { return m_finished + int(m_running.size() + m_waiting.size()); }
    // Share of the whole batch done, 0 to 1.
    double fractionDone() const;
    // The estimate shown to the user; nothing until the measured speed can be trusted.
    std::optional<qint64> secondsLeft() const;
    qint64 elapsedMs() const;

    // "剩余约 3 分 20 秒"
    static QString timeLeftText(qint64 seconds);
    // "第 2/5 个文件", followed by the time left once there is an estimate.
    QString statusText() const;

private:
    static constexpr int MaxPasses = 2;

    struct Run
    {
        QString path;
        int pass = 0;
        bool started = false;
        double fraction = 0; // of the current run
        qint64 sampleAt = 0;
        double sampleFraction = 0;
    };

    double lengthOf(const QString &path) const;
    double averageLength() const;
    double waitingWork() const;
    void countIn(const QString &path, int delta);
    void sample(Run &run, bool runEnded);
    void refreshEstimate();
    std::optional<double> rawSecondsLeft() const;

    Clock m_clock;
    int m_passes = 1;
    int m_jobs = 1;
    std::deque<QString> m_waiting;
    std::map<int, Run> m_running;
    QHash<QString, double> m_lengths;  // known lengths, seconds
    QHash<QString, qint64> m_sizes;    // known sizes, bytes
    QHash<QString, int> m_queuedCount; // how many waiting rows hold each path
    double m_knownSeconds = 0;         // sum of the known lengths over the waiting rows
    int m_knownRows = 0;
    double m_sizedBytes = 0; // sum of the sizes of waiting rows of unknown length
    int m_sizedRows = 0;
    double m_rateSeconds = 0; // lengths and sizes of the files where both are known
    double m_rateBytes = 0;
    int m_finished = 0;
    double m_finishedWork = 0; // work of the files that have ended

    qint64 m_begin = 0;
    double m_measuredMs[MaxPasses] = {0, 0}; // time covered by speed samples
    double m_rate[MaxPasses] = {0, 0};       // media seconds per second and job, smoothed
    double m_lengthSum = 0;                  // over the distinct files of known length
    int m_lengthCount = 0;

    std::optional<double> m_shown;
    qint64 m_shownAt = 0;
};
