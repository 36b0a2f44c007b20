#include "convert/DurationProbe.h"

#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// A file that makes ffprobe hang (a pipe with a media name, a stalled network share) must not
// hold up the files after it.
constexpr int ProbeTimeoutMs = 10000;
// Longer is no real length ("inf", "1e300"); the estimate of time left must stay a number.
constexpr double MaxSeconds = 1e9;

} // namespace

DurationProbe::DurationProbe(QObject *parent) : QObject(parent), m_timeout(new QTimer(this))
{
    m_timeout->setSingleShot(true);
    m_timeout->setInterval(ProbeTimeoutMs);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        if (m_process)
            m_process->kill();
    });
}

DurationProbe::~DurationProbe()
{
    cancel();
    // A probe ended by cancel() may not have been reaped yet; it is gone within moments of
    // its kill.
    for (QProcess *process : findChildren<QProcess *>()) {
        process->kill();
        process->waitForFinished(1000);
    }
}

void DurationProbe::setTimeout(int milliseconds)
{
    m_timeout->setInterval(milliseconds);
}

void DurationProbe::probe(const QStringList &paths)
{
    QStringList known;
    for (const QString &path : paths) {
        if (m_lengths.contains(path)) {
            known.append(path);
        } else if (!m_asked.contains(path)) {
            m_asked.insert(path);
            m_waiting.push_back(path);
        }
    }
    // Answers never arrive inside the caller's own call.
    for (const QString &path : std::as_const(known))
        QMetaObject::invokeMethod(
            this, [this, path, seconds = m_lengths.value(path)] { emit probed(path, seconds); },
            Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, &DurationProbe::startNext, Qt::QueuedConnection);
}

void DurationProbe::cancel()
{
    for (const QString &path : m_waiting)
        m_asked.remove(path);
    m_waiting.clear();
    m_timeout->stop();
    if (m_process) {
        m_asked.remove(m_current);
        m_process->disconnect(this);
        // Reaped when its end is seen, so the window never waits for it.
        connect(m_process, &QProcess::finished, m_process, &QObject::deleteLater);
        m_process->kill();
        m_process = nullptr;
    }
}

void DurationProbe::forget()
{
    cancel();
    m_lengths.clear();
    m_asked.clear();
}

void DurationProbe::startNext()
{
    while (!m_process && !m_waiting.empty()) {
        m_current = m_waiting.front();
        m_waiting.pop_front();
        if (!NativePath::isFile(m_current) || NativePath::size(m_current) <= 0) {
            answer(m_current, 0);
            continue;
        }
        // The "file:" form keeps a name with a colon or a leading dash a plain file name.
        const QStringList arguments = {
            QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
            QStringLiteral("format=duration"), QStringLiteral("-of"), QStringLiteral("json"),
            // Read as one local media file: a playlist posing as a video must not make the
            // probe open the files or addresses it names.
            QStringLiteral("-protocol_whitelist"), QLatin1String(ToolContract::InputProtocols),
            QStringLiteral("-format_whitelist"), QLatin1String(ToolContract::InputFormats),
            QStringLiteral("-i"),
            QStringLiteral("file:") + QDir::cleanPath(QDir::current().absoluteFilePath(m_current))};
        // A name that is not UTF-8 must reach ffprobe byte for byte.
        const auto exact = std::make_shared<const NativePath::Arguments>(m_program, arguments);
        m_process = new QProcess(this);
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        m_process->setStandardInputFile(QProcess::nullDevice());
        m_process->setChildProcessModifier([parent = ::getpid(), exact] {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            // Lengths are only for the estimate: at the lowest priority the probe takes what
            // the encoders leave of the processor. (Not SCHED_IDLE: on a busy machine a probe
            // that is told to end would then linger until a core is free.)
            [[maybe_unused]] const int nice = ::nice(19);
            if (exact->needed()) {
                exact->exec();
                ::_exit(127);
            }
        });
        m_process->start(m_program, arguments);
        connect(m_process, &QProcess::finished, this, &DurationProbe::processEnded);
        connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            // Without ffprobe no length can be found; the estimate then counts files.
            if (error == QProcess::FailedToStart)
                processEnded();
        });
        m_timeout->start();
    }
}

void DurationProbe::processEnded()
{
    m_timeout->stop();
    bool ok = false;
    double seconds = 0;
    // Structured and escaped: nothing a file carries (a title, a name) can pass for its length.
    if (m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0)
        seconds = QJsonDocument::fromJson(m_process->readAllStandardOutput())
                      .object()
                      .value(QLatin1String("format"))
                      .toObject()
                      .value(QLatin1String("duration"))
                      .toString()
                      .toDouble(&ok);
    m_process->disconnect(this);
    m_process->deleteLater();
    m_process = nullptr;
    answer(m_current, ok && seconds > 0 && seconds < MaxSeconds ? seconds : 0);
    startNext();
}

void DurationProbe::answer(const QString &path, double seconds)
{
    m_lengths.insert(path, seconds);
    emit probed(path, seconds);
}
