#include "convert/BatchProgress.h"

#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

// The speed is sampled at most once a second, so a burst of progress lines cannot swing it.
constexpr qint64 SampleMs = 1000;
// Older speed samples fade with this time constant.
constexpr double SmoothingMs = 30000;
// The estimate is shown after this much work, or once this share of the batch is done.
constexpr qint64 TrustMs = 5000;
constexpr double TrustFraction = 0.10;
// A shown estimate follows a new one by at most these shares of itself per second: it may
// fall quickly, since finishing early is welcome, but it rises only slowly.
constexpr double FallPerSecond = 0.10;
constexpr double RisePerSecond = 0.03;

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

BatchProgress::BatchProgress() : m_clock(steadyMs) {}

void BatchProgress::begin(const QStringList &queue, int passes)
{
    const Clock clock = m_clock;
    *this = BatchProgress();
    m_clock = clock;
    m_passes = qBound(1, passes, MaxPasses);
    m_begin = m_clock();
    insertFiles(0, queue);
}

void BatchProgress::countIn(const QString &path, int delta)
{
    int &count = m_queuedCount[path];
    count += delta;
    if (count <= 0)
        m_queuedCount.remove(path);
    const auto known = m_lengths.constFind(path);
    if (known != m_lengths.constEnd()) {
        m_knownSeconds += delta * known.value();
        m_knownRows += delta;
    }
}

void BatchProgress::insertFiles(int row, const QStringList &paths)
{
    row = qBound(0, row, int(m_queue.size()));
    m_queue.insert(m_queue.begin() + row, paths.begin(), paths.end());
    for (const QString &path : paths)
        countIn(path, 1);
    refreshEstimate();
}

void BatchProgress::removeFiles(int row, int count)
{
    row = qBound(0, row, int(m_queue.size()));
    count = qBound(0, count, int(m_queue.size()) - row);
    if (count == 0)
        return;
    if (row == 0 && m_running && !m_headDetached) {
        // The file being converted has left the queue; its run still ends in fileFinished.
        m_headDetached = true;
        m_removedHeadWork = m_passes * lengthOf(m_current);
    }
    for (int i = row; i < row + count; ++i)
        countIn(m_queue[i], -1);
    m_queue.erase(m_queue.begin() + row, m_queue.begin() + row + count);
    refreshEstimate();
}

void BatchProgress::setDuration(const QString &path, double seconds)
{
    if (!(seconds > 0))
        return;
    const int rows = m_queuedCount.value(path);
    const auto known = m_lengths.constFind(path);
    if (known != m_lengths.constEnd()) {
        m_knownSeconds += rows * (seconds - known.value());
        m_lengthSum += seconds - known.value();
    } else {
        m_knownSeconds += rows * seconds;
        m_knownRows += rows;
        m_lengthSum += seconds;
        ++m_lengthCount;
    }
    m_lengths.insert(path, seconds);
    refreshEstimate();
}

double BatchProgress::averageLength() const
{
    // Without any known length every file counts as one unit: the estimate then rests on the
    // number of files alone.
    return m_lengthCount > 0 ? m_lengthSum / m_lengthCount : 1.0;
}

double BatchProgress::lengthOf(const QString &path) const
{
    return m_lengths.value(path, averageLength());
}

double BatchProgress::headDone() const
{
    return m_running ? (m_pass + m_fraction) * lengthOf(m_current) : 0;
}

void BatchProgress::runStarted(int pass)
{
    if (m_running)
        sample(true);
    else if (!m_queue.empty())
        m_current = m_queue.front();
    m_running = true;
    m_pass = qBound(0, pass, m_passes - 1);
    m_fraction = 0;
    m_sampleAt = m_clock();
    m_sampleFraction = 0;
    refreshEstimate();
}

void BatchProgress::runProgress(double fraction)
{
    if (!m_running)
        return;
    // A tool's progress never goes back; a stray lower value is noise.
    m_fraction = std::max(m_fraction, qBound(0.0, fraction, 1.0));
    sample(false);
    refreshEstimate();
}

void BatchProgress::fileFinished()
{
    if (m_running)
        sample(true);
    if (m_headDetached)
        m_finishedWork += m_removedHeadWork;
    ++m_finished;
    m_running = false;
    m_headDetached = false;
    m_removedHeadWork = 0;
    m_pass = 0;
    m_fraction = 0;
    m_current.clear();
    refreshEstimate();
}

void BatchProgress::sample(bool runEnded)
{
    const qint64 now = m_clock();
    const qint64 elapsed = now - m_sampleAt;
    if (elapsed <= 0 || (!runEnded && elapsed < SampleMs))
        return;
    const double work = (m_fraction - m_sampleFraction) * lengthOf(m_current);
    const double rate = work * 1000.0 / elapsed;
    double &measured = m_measuredMs[m_pass];
    // Until the smoothing time is covered this is the plain average of all samples, so the
    // first sample (which carries the tool's start-up) does not weigh more than its time.
    const double weight =
        std::max(elapsed / (measured + elapsed), 1.0 - std::exp(-elapsed / SmoothingMs));
    m_rate[m_pass] += weight * (rate - m_rate[m_pass]);
    measured += elapsed;
    m_sampleAt = now;
    m_sampleFraction = m_fraction;
}

std::optional<double> BatchProgress::rawSecondsLeft() const
{
    double rateSum = 0;
    int rates = 0;
    for (int pass = 0; pass < m_passes; ++pass)
        if (m_measuredMs[pass] > 0 && m_rate[pass] > 0) {
            rateSum += m_rate[pass];
            ++rates;
        }
    if (rates == 0)
        return std::nullopt;
    const double queued = m_knownSeconds + (int(m_queue.size()) - m_knownRows) * averageLength();
    const double headLength = lengthOf(m_current);
    double seconds = 0;
    for (int pass = 0; pass < m_passes; ++pass) {
        double work = queued;
        if (m_running) {
            const double left = pass < m_pass ? 0 : pass == m_pass ? 1 - m_fraction : 1;
            work += left * headLength - (m_headDetached ? 0 : headLength);
        }
        // A pass not measured yet is taken to run at the speed of the others.
        const double rate =
            m_measuredMs[pass] > 0 && m_rate[pass] > 0 ? m_rate[pass] : rateSum / rates;
        seconds += std::max(0.0, work) / rate;
    }
    return seconds;
}

void BatchProgress::refreshEstimate()
{
    const qint64 now = m_clock();
    const std::optional<double> raw = rawSecondsLeft();
    const double measured = m_measuredMs[0] + m_measuredMs[1];
    const bool trusted = raw && measured >= SampleMs &&
                         (now - m_begin >= TrustMs || fractionDone() >= TrustFraction);
    if (!m_shown) {
        if (trusted) {
            m_shown = *raw;
            m_shownAt = now;
        }
        return;
    }
    const double seconds = (now - m_shownAt) / 1000.0;
    const double countdown = std::max(0.0, *m_shown - seconds);
    double shown = countdown;
    if (raw) {
        const double fall = (1.0 + FallPerSecond * countdown) * seconds;
        const double rise = RisePerSecond * countdown * seconds;
        shown = qBound(countdown - fall, *raw, countdown + rise);
    }
    m_shown = std::max(0.0, shown);
    m_shownAt = now;
}

double BatchProgress::fractionDone() const
{
    const double queued = m_knownSeconds + (int(m_queue.size()) - m_knownRows) * averageLength();
    const double total =
        m_finishedWork + m_passes * queued + (m_headDetached ? m_removedHeadWork : 0);
    if (total <= 0)
        return 0;
    return qBound(0.0, (m_finishedWork + headDone()) / total, 1.0);
}

std::optional<qint64> BatchProgress::secondsLeft() const
{
    if (!m_shown)
        return std::nullopt;
    return qint64(std::ceil(*m_shown));
}

qint64 BatchProgress::elapsedMs() const
{
    return m_clock() - m_begin;
}

QString BatchProgress::timeLeftText(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    if (seconds < 60)
        return QStringLiteral("剩余约 %1 秒").arg(std::max<qint64>(5, (seconds + 4) / 5 * 5));
    if (seconds < 600) {
        const qint64 rounded = (seconds + 5) / 10 * 10;
        if (rounded % 60 == 0)
            return QStringLiteral("剩余约 %1 分").arg(rounded / 60);
        return QStringLiteral("剩余约 %1 分 %2 秒").arg(rounded / 60).arg(rounded % 60);
    }
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("剩余约 %1 分").arg(minutes);
    if (minutes % 60 == 0)
        return QStringLiteral("剩余约 %1 小时").arg(minutes / 60);
    return QStringLiteral("剩余约 %1 小时 %2 分").arg(minutes / 60).arg(minutes % 60);
}

QString BatchProgress::statusText() const
{
    QString text = QStringLiteral("第 %1/%2 个文件").arg(fileNumber()).arg(fileCount());
    if (const std::optional<qint64> left = secondsLeft())
        text += QStringLiteral("  ") + timeLeftText(*left);
    return text;
}
