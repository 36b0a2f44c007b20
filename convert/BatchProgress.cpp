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
// Far beyond any batch (about 115 days); an encoder that stands still makes the speed tend to
// nothing and the raw estimate to infinity, which is held here.
constexpr double MaxSecondsLeft = 1e7;

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

BatchProgress::BatchProgress() : m_clock(steadyMs) {}

void BatchProgress::begin(const QStringList &waiting, int passes, int jobs)
{
    const Clock clock = m_clock;
    *this = BatchProgress();
    m_clock = clock;
    m_passes = qBound(1, passes, MaxPasses);
    m_jobs = std::max(1, jobs);
    m_begin = m_clock();
    insertFiles(0, waiting);
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
        return;
    }
    const auto size = m_sizes.constFind(path);
    if (size != m_sizes.constEnd()) {
        m_sizedBytes += delta * double(size.value());
        m_sizedRows += delta;
    }
}

void BatchProgress::insertFiles(int row, const QStringList &paths)
{
    row = qBound(0, row, int(m_waiting.size()));
    m_waiting.insert(m_waiting.begin() + row, paths.begin(), paths.end());
    for (const QString &path : paths)
        countIn(path, 1);
    refreshEstimate();
}

void BatchProgress::removeFiles(int row, int count)
{
    row = qBound(0, row, int(m_waiting.size()));
    count = qBound(0, count, int(m_waiting.size()) - row);
    if (count == 0)
        return;
    for (int i = row; i < row + count; ++i)
        countIn(m_waiting[i], -1);
    m_waiting.erase(m_waiting.begin() + row, m_waiting.begin() + row + count);
    refreshEstimate();
}

void BatchProgress::setDuration(const QString &path, double seconds)
{
    if (!(seconds > 0))
        return;
    const int rows = m_queuedCount.value(path);
    const auto known = m_lengths.constFind(path);
    const auto size = m_sizes.constFind(path);
    if (known != m_lengths.constEnd()) {
        m_knownSeconds += rows * (seconds - known.value());
        m_lengthSum += seconds - known.value();
        if (size != m_sizes.constEnd())
            m_rateSeconds += seconds - known.value();
    } else {
        m_knownSeconds += rows * seconds;
        m_knownRows += rows;
        m_lengthSum += seconds;
        ++m_lengthCount;
        if (size != m_sizes.constEnd()) {
            m_sizedBytes -= rows * double(size.value());
            m_sizedRows -= rows;
            m_rateSeconds += seconds;
            m_rateBytes += double(size.value());
        }
    }
    m_lengths.insert(path, seconds);
    refreshEstimate();
}

void BatchProgress::setSize(const QString &path, qint64 bytes)
{
    if (bytes <= 0 || m_sizes.contains(path))
        return;
    m_sizes.insert(path, bytes);
    if (const auto known = m_lengths.constFind(path); known != m_lengths.constEnd()) {
        m_rateSeconds += known.value();
        m_rateBytes += double(bytes);
    } else {
        const int rows = m_queuedCount.value(path);
        m_sizedBytes += rows * double(bytes);
        m_sizedRows += rows;
    }
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
    if (const auto known = m_lengths.constFind(path); known != m_lengths.constEnd())
        return known.value();
    if (const auto size = m_sizes.constFind(path); size != m_sizes.constEnd() && m_rateBytes > 0)
        return double(size.value()) * m_rateSeconds / m_rateBytes;
    return averageLength();
}

double BatchProgress::waitingWork() const
{
    double work = m_knownSeconds;
    int unknownRows = int(m_waiting.size()) - m_knownRows;
    if (m_rateBytes > 0) {
        work += m_sizedBytes * m_rateSeconds / m_rateBytes;
        unknownRows -= m_sizedRows;
    }
    return work + unknownRows * averageLength();
}

void BatchProgress::fileStarted(int key)
{
    Run run;
    if (!m_waiting.empty()) {
        run.path = m_waiting.front();
        countIn(run.path, -1);
        m_waiting.pop_front();
    }
    m_running[key] = run;
    refreshEstimate();
}

void BatchProgress::runStarted(int key, int pass)
{
    const auto found = m_running.find(key);
    if (found == m_running.end())
        return;
    Run &run = found->second;
    if (run.started)
        sample(run, true);
    run.started = true;
    run.pass = qBound(0, pass, m_passes - 1);
    run.fraction = 0;
    run.sampleAt = m_clock();
    run.sampleFraction = 0;
    refreshEstimate();
}

void BatchProgress::runProgress(int key, double fraction)
{
    const auto found = m_running.find(key);
    if (found == m_running.end() || !found->second.started)
        return;
    Run &run = found->second;
    // A tool's progress never goes back; a stray lower value is noise.
    run.fraction = std::max(run.fraction, qBound(0.0, fraction, 1.0));
    sample(run, false);
    refreshEstimate();
}

void BatchProgress::fileFinished(int key)
{
    const auto found = m_running.find(key);
    if (found == m_running.end())
        return;
    if (found->second.started)
        sample(found->second, true);
    m_finishedWork += m_passes * lengthOf(found->second.path);
    m_running.erase(found);
    ++m_finished;
    refreshEstimate();
}

void BatchProgress::sample(Run &run, bool runEnded)
{
    const qint64 now = m_clock();
    const qint64 elapsed = now - run.sampleAt;
    if (elapsed <= 0 || (!runEnded && elapsed < SampleMs))
        return;
    const double work = (run.fraction - run.sampleFraction) * lengthOf(run.path);
    const double rate = work * 1000.0 / elapsed;
    double &measured = m_measuredMs[run.pass];
    // Until the smoothing time is covered this is the plain average of all samples, so the
    // first sample (which carries the tool's start-up) does not weigh more than its time.
    const double weight =
        std::max(elapsed / (measured + elapsed), 1.0 - std::exp(-elapsed / SmoothingMs));
    m_rate[run.pass] += weight * (rate - m_rate[run.pass]);
    measured += elapsed;
    run.sampleAt = now;
    run.sampleFraction = run.fraction;
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
    const double waiting = waitingWork();
    // The rates are per running file; files running side by side share the work.
    const int parallel = std::max(1, std::min(m_jobs, int(m_running.size() + m_waiting.size())));
    double seconds = 0;
    for (int pass = 0; pass < m_passes; ++pass) {
        double work = waiting;
        for (const auto &[key, run] : m_running) {
            const double left = !run.started || pass > run.pass ? 1
                                : pass == run.pass              ? 1 - run.fraction
                                                                : 0;
            work += left * lengthOf(run.path);
        }
        // A pass not measured yet is taken to run at the speed of the others.
        const double rate =
            m_measuredMs[pass] > 0 && m_rate[pass] > 0 ? m_rate[pass] : rateSum / rates;
        seconds += std::max(0.0, work) / rate;
    }
    seconds /= parallel;
    if (!std::isfinite(seconds))
        return MaxSecondsLeft;
    return std::min(seconds, MaxSecondsLeft);
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
    m_shown = qBound(0.0, shown, MaxSecondsLeft);
    m_shownAt = now;
}

double BatchProgress::fractionDone() const
{
    double running = 0, runningDone = 0;
    for (const auto &[key, run] : m_running) {
        const double length = lengthOf(run.path);
        running += m_passes * length;
        if (run.started)
            runningDone += (run.pass + run.fraction) * length;
    }
    const double total = m_finishedWork + running + m_passes * waitingWork();
    if (total <= 0)
        return 0;
    return qBound(0.0, (m_finishedWork + runningDone) / total, 1.0);
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
