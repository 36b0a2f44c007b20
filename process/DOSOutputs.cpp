#include "process/DOSOutputs.h"

#include "process/MessageSink.h"
#include "process/NativePath.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// How long a stopped tool may take to tidy up after SIGTERM before it is killed.
constexpr int StopGraceMs = 500;

} // namespace

DOSOutputs::DOSOutputs(MessageSink *messages, QObject *parent)
    : QObject(parent), m_messages(messages), m_graceTimer(new QTimer(this))
{
    m_graceTimer->setSingleShot(true);
    m_graceTimer->setInterval(StopGraceMs);
    connect(m_graceTimer, &QTimer::timeout, this, [this] { signalGroup(SIGKILL); });
}

DOSOutputs::~DOSOutputs()
{
    if (m_waitLoop)
        m_waitLoop->quit();
    if (m_process) {
        m_process->disconnect(this);
        signalGroup(SIGKILL);
        // Reaps the child, so QProcess has nothing left to complain about.
        m_process->waitForFinished(1000);
        if (m_inProcessSignal) {
            // A handler of this runner is destroying it from inside one of the process's own
            // signals: the process object is still on the stack below us and must outlive
            // this call.
            m_process->setParent(nullptr);
            m_process->deleteLater();
        } else {
            delete m_process;
        }
    }
}

QString DOSOutputs::ExecuteCommand(const ::CommandLine &CommandLine)
{
    if (!Start(CommandLine))
        return {};
    QPointer<DOSOutputs> self(this);
    QEventLoop loop;
    m_waitLoop = &loop;
    loop.exec();
    if (!self)
        return {};
    // exec() returns at once while the application is quitting; the run then goes on alone.
    if (m_waitLoop == &loop)
        m_waitLoop = nullptr;
    return m_outputs;
}

bool DOSOutputs::Start(const ::CommandLine &CommandLine)
{
    if (m_running) {
        qWarning("DOSOutputs: a run is still in progress, %s not started",
                 qUtf8Printable(CommandLine.isEmpty() ? m_commandLine.text() : CommandLine.text()));
        return false;
    }
    if (!CommandLine.isEmpty())
        m_commandLine = CommandLine;
    if (m_commandLine.isEmpty())
        return refuse(QStringLiteral("Command Line empty"));
    if (!pipesAvailable())
        return false;

    auto *process = new QProcess(this);
    process->setProgram(m_commandLine.program());
    process->setArguments(m_commandLine.arguments());
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    // A path whose name is not UTF-8 must reach the tool byte for byte, which Qt's own start
    // cannot do; the child then starts the tool itself.
    const auto exact = std::make_shared<const NativePath::Arguments>(m_commandLine.program(),
                                                                     m_commandLine.arguments());
    if (exact->needed() &&
        ::access(NativePath::encode(m_commandLine.program()).constData(), X_OK) != 0) {
        delete process;
        return refuse(QStringLiteral("File or command not found"));
    }
    const pid_t parent = ::getpid();
    process->setChildProcessModifier([parent, exact] {
        // The tool ends with this program, however it ends, SIGKILL included: it is told by
        // SIGTERM, on which it ends its ffmpeg and removes what it had begun to write. A
        // parent that died before the request was made is caught by the check after it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        // A group of its own lets Stop() reach the ffmpeg the tool starts, not just the tool.
        ::setpgid(0, 0);
        // A wider pipe means fewer, larger reads when a tool floods; where the system
        // refuses, the default pipe works as well, only with more wake-ups.
        ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
        if (exact->needed()) {
            exact->exec();
            ::_exit(127);
        }
    });
    // The child takes this program's environment as it is when it starts (also where it starts
    // the tool itself), so the run's own variables are in it for that moment only.
    QList<QPair<QByteArray, QByteArray>> previous;
    for (const auto &[name, value] : std::as_const(m_variables)) {
        previous.append({name, qgetenv(name.constData())});
        if (value.isEmpty())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
    process->start();
    // Only says whether exec() succeeded, so it returns as soon as the program is running.
    const bool started = process->waitForStarted();
    for (const auto &[name, value] : std::as_const(previous)) {
        if (value.isEmpty())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
    if (!started) {
        const QString why = process->errorString();
        delete process;
        refuse(QStringLiteral("File or command not found"));
        m_result.startError = why;
        return false;
    }

    m_process = process;
    m_group = process->processId();
    connect(process, &QProcess::readyRead, this, &DOSOutputs::readOutput);
    connect(process, &QProcess::finished, this, &DOSOutputs::childFinished);
    m_outputs.clear();
    m_chunker.reset();
    m_result = RunResult{};
    m_result.started = true;
    m_result.pid = m_group;
    m_childEnded = false;
    m_running = true;
    return true;
}

void DOSOutputs::Stop()
{
    if (!m_running || m_childEnded || m_result.stopped)
        return;
    m_result.stopped = true;
    signalGroup(SIGTERM);
    m_graceTimer->start();
}

bool DOSOutputs::refuse(const QString &text)
{
    m_result = RunResult{};
    if (m_messages)
        m_messages->showMessage(MessageSink::Icon::Stop, QStringLiteral("Vidmorph"), text);
    return false;
}

bool DOSOutputs::pipesAvailable()
{
    // QProcess would only say "failed to start"; a pipe of our own tells why.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        const int error = errno;
        refuse(QStringLiteral("CreatePipe failed. Error: ") + QString::number(error));
        m_result.startError = QString::fromLocal8Bit(::strerror(error));
        return false;
    }
    ::close(ends[0]);
    ::close(ends[1]);
    return true;
}

void DOSOutputs::readOutput()
{
    m_chunker.readFrom(*m_process);
    QPointer<DOSOutputs> self(this);
    m_inProcessSignal = true;
    deliver();
    if (self)
        m_inProcessSignal = false;
}

void DOSOutputs::deliver()
{
    // A handler that runs an event loop may let more output in; the delivery already in
    // progress takes it, so chunks keep their order.
    if (m_delivering)
        return;
    m_delivering = true;
    QPointer<DOSOutputs> self(this);
    while (const std::optional<QString> chunk = m_chunker.next(m_childEnded)) {
        m_outputs += *chunk;
        emit ReceiveOutputs(*chunk);
        if (!self)
            return;
    }
    m_chunker.endDelivery();
    m_delivering = false;
    if (m_childEnded && m_running)
        finishRun();
}

void DOSOutputs::childFinished(int exitCode, QProcess::ExitStatus status)
{
    m_graceTimer->stop();
    m_result.exitCode = status == QProcess::NormalExit ? exitCode : 0;
    m_result.crashed = status == QProcess::CrashExit && !m_result.stopped;
    m_childEnded = true;
    m_chunker.readFrom(*m_process);
    // Whatever the tool left behind in its group must not outlive the run.
    signalGroup(SIGKILL);
    QPointer<DOSOutputs> self(this);
    m_inProcessSignal = true;
    deliver();
    if (self)
        m_inProcessSignal = false;
}

void DOSOutputs::finishRun()
{
    m_running = false;
    m_process->disconnect(this);
    m_process->deleteLater();
    m_process = nullptr;
    m_group = 0;
    QEventLoop *loop = m_waitLoop;
    m_waitLoop = nullptr;
    emit CommandOver();
    // The loop lives in ExecuteCommand's frame, which outlives this call even when a handler
    // has destroyed the runner.
    if (loop)
        loop->quit();
}

void DOSOutputs::signalGroup(int signal) const
{
    if (m_group > 0)
        ::kill(-static_cast<pid_t>(m_group), signal);
}
