#include "RecordingMessageSink.h"
#include "process/DOSOutputs.h"
#include "process/clsWaitableTimer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

::CommandLine writer(const QStringList &actions)
{
    return ::CommandLine::fromArguments(QStringLiteral(OUTPUTWRITER), actions);
}

QString hexOf(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QByteArray letters(int count)
{
    QByteArray data;
    for (int n = 0; n < count; ++n)
        data += char('a' + n % 26);
    return data;
}

QByteArray lines(int count, int length)
{
    QByteArray data;
    for (int n = 0; n < count; ++n)
        data += QByteArray(length - 1, char('A' + n % 26)) + '\n';
    return data;
}

QByteArray progress(int count)
{
    QByteArray data;
    for (int n = 0; n < count; ++n)
        data += "frame=" + QByteArray::number(n) + " time=" + QByteArray::number(n) + ".00\r";
    return data;
}

// A killed process whose parent has not reaped it yet counts as gone.
bool processGone(qint64 pid)
{
    if (::kill(static_cast<pid_t>(pid), 0) != 0)
        return errno == ESRCH;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

// Children of this test process that are still around, zombies included.
QStringList ownChildren()
{
    QStringList children;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        if (file.open(QIODevice::ReadOnly))
            children +=
                QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return children;
}

// Every chunk of one run, and whether any arrived after CommandOver.
struct RunLog
{
    explicit RunLog(DOSOutputs &runner)
    {
        QObject::connect(&runner, &DOSOutputs::ReceiveOutputs, &runner,
                         [this](const QString &chunk) {
                             chunks.append(chunk);
                             lateChunk = lateChunk || overs > 0;
                         });
        QObject::connect(&runner, &DOSOutputs::CommandOver, &runner, [this] { ++overs; });
    }
    QString joined() const { return chunks.join(QString()); }

    QStringList chunks;
    int overs = 0;
    bool lateChunk = false;
};

// Starts a run whose child prints "pids CHILD GRANDCHILD" and returns the two ids.
QList<qint64> startWithGrandchild(DOSOutputs &runner, const QStringList &actions)
{
    QSignalSpy received(&runner, &DOSOutputs::ReceiveOutputs);
    if (!runner.Start(writer(actions)) || !received.wait(5000))
        return {};
    const QStringList words = received.first().first().toString().simplified().split(' ');
    if (words.size() != 3 || words[0] != QLatin1String("pids"))
        return {};
    return {words[1].toLongLong(), words[2].toLongLong()};
}

} // namespace

class TestDOSOutputs : public QObject
{
    Q_OBJECT
private slots:
    void chunks_data();
    void chunks();
    void characterSplitBetweenReadsArrivesWhole();
    void handlerWaitingWhileTheToolEnds();
    void silentChildEndsPromptly();
    void sameProgramElsewhereDoesNotHoldTheRun();
    void startFailures_data();
    void startFailures();
    void pipeFailure();
    void argumentsArriveByteForByte();
    void executeCommandRunsAndKeepsTheCommand();
    void commandOverHandlerCanStartTheNextRun();
    void eventLoopRunsDuringARun();
    void exitStatus_data();
    void exitStatus();
    void killedFromOutsideIsACrash();
    void stopEndsTheWholeGroup_data();
    void stopEndsTheWholeGroup();
    void leftoverGrandchildEndsWithTheRun();
    void destructorEndsTheWholeGroup();
    void destroyedByItsOwnHandler_data();
    void destroyedByItsOwnHandler();
};

void TestDOSOutputs::chunks_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QList<int>>("sizes"); // empty: any sizes up to 1024
    QTest::addColumn<bool>("lineEnds");    // every chunk ends at a line break

    QTest::newRow("3000 waiting bytes without a break")
        << QStringList{"bytes", "3000", "sleep", "100"} << letters(3000)
        << QList<int>{1024, 1024, 952} << false;
    QTest::newRow("3000 bytes of 100-byte lines")
        << QStringList{"lines", "30", "100", "sleep", "100"} << lines(30, 100)
        << QList<int>{1000, 1000, 1000} << true;
    QTest::newRow("progress lines ending in CR")
        << QStringList{"progress", "400"} << progress(400) << QList<int>{} << true;
    QTest::newRow("line start carried into the next burst")
        << QStringList{"hex", hexOf("abc\ndef"), "sleep", "150", "hex", hexOf("ghi\n")}
        << QByteArray("abc\ndefghi\n") << QList<int>{4, 7} << true;
    QTest::newRow("burst without any break goes out at once")
        << QStringList{"hex", hexOf("Overwrite? "), "sleep", "150", "hex", hexOf("no\n")}
        << QByteArray("Overwrite? no\n") << QList<int>{11, 3} << false;
    QTest::newRow("last words right before exit")
        << QStringList{"hex", hexOf("Error: disk full\nConversion failed")}
        << QByteArray("Error: disk full\nConversion failed") << QList<int>{17, 17} << false;
    QTest::newRow("standard error merged in order")
        << QStringList{"hex", hexOf("out\n"), "sleep", "100", "err", hexOf("err\n")}
        << QByteArray("out\nerr\n") << QList<int>{4, 4} << true;
}

void TestDOSOutputs::chunks()
{
    QFETCH(QStringList, actions);
    QFETCH(QByteArray, expected);
    QFETCH(QList<int>, sizes);
    QFETCH(bool, lineEnds);

    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    RunLog log(runner);
    const QString returned = runner.ExecuteCommand(writer(actions));

    QCOMPARE(log.overs, 1);
    QVERIFY(!log.lateChunk);
    QCOMPARE(log.joined().toUtf8(), expected);
    QCOMPARE(returned, log.joined());
    QCOMPARE(runner.Outputs(), log.joined());
    QList<int> actual;
    for (const QString &chunk : log.chunks) {
        const QByteArray bytes = chunk.toUtf8();
        QVERIFY2(bytes.size() <= 1024, qPrintable(QString::number(bytes.size())));
        if (lineEnds)
            QVERIFY2(bytes.endsWith('\n') || bytes.endsWith('\r'), bytes.right(20).constData());
        actual.append(bytes.size());
    }
    if (!sizes.isEmpty())
        QCOMPARE(actual, sizes);
    QVERIFY(messages.messages.isEmpty());
    QVERIFY(runner.lastResult().started);
    QCOMPARE(runner.lastResult().exitCode, 0);
}

void TestDOSOutputs::characterSplitBetweenReadsArrivesWhole()
{
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    RunLog log(runner);
    // "ab" and the first two bytes of 中, then the last byte of 中 and 文.
    runner.ExecuteCommand(writer({"hex", "6162e4b8", "sleep", "150", "hex",
                                  "ade69687"
                                  "0a"}));
    QCOMPARE(log.chunks, (QStringList{"ab", QString::fromUtf8("中文\n")}));
    QVERIFY(!log.joined().contains(QChar::ReplacementCharacter));
}

void TestDOSOutputs::handlerWaitingWhileTheToolEnds()
{
    // The tool writes its last line and exits while the first chunk's handler still runs
    // an event loop; that line must still come, in order, before CommandOver.
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    RunLog log(runner);
    connect(&runner, &DOSOutputs::ReceiveOutputs, this, [&log] {
        if (log.chunks.size() == 1)
            clsWaitableTimer().Wait(300);
    });
    const QString returned = runner.ExecuteCommand(
        writer({"hex", hexOf("first\n"), "sleep", "50", "hex", hexOf("last\n")}));
    QCOMPARE(log.chunks, (QStringList{"first\n", "last\n"}));
    QCOMPARE(log.overs, 1);
    QVERIFY(!log.lateChunk);
    QCOMPARE(returned, QStringLiteral("first\nlast\n"));
}

void TestDOSOutputs::silentChildEndsPromptly()
{
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    QSignalSpy received(&runner, &DOSOutputs::ReceiveOutputs);
    QSignalSpy over(&runner, &DOSOutputs::CommandOver);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(runner.Start(writer({"sleep", "300"})));
    QVERIFY(runner.isRunning());
    QVERIFY(over.wait(5000));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 300 && elapsed < 600, qPrintable(QString::number(elapsed)));
    QVERIFY(!runner.isRunning());
    QTest::qWait(50);
    QCOMPARE(over.count(), 1);
    QCOMPARE(received.count(), 0);
    QCOMPARE(runner.Outputs(), QString());
}

void TestDOSOutputs::sameProgramElsewhereDoesNotHoldTheRun()
{
    QProcess other;
    other.start(QStringLiteral(OUTPUTWRITER), {"sleep", "5000"});
    QVERIFY(other.waitForStarted());

    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runner.ExecuteCommand(writer({"hex", hexOf("quick\n")})), QStringLiteral("quick\n"));
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(other.state(), QProcess::Running);
    other.kill();
    QVERIFY(other.waitForFinished());
}

void TestDOSOutputs::startFailures_data()
{
    QTest::addColumn<::CommandLine>("command");
    QTest::addColumn<QString>("message");
    const QString notFound = QStringLiteral("File or command not found");
    QTest::newRow("empty command") << ::CommandLine() << QStringLiteral("Command Line empty");
    QTest::newRow("missing path") << ::CommandLine::fromArguments("/nonexistent/vidmorph/conv", {})
                                  << notFound;
    QTest::newRow("name not on the search path")
        << ::CommandLine::fromArguments("vidmorph-no-such-tool", {"-i", "x"}) << notFound;
    QTest::newRow("directory") << ::CommandLine::fromArguments(QDir::tempPath(), {}) << notFound;
    QTest::newRow("file that is not executable")
        << ::CommandLine::fromArguments(VIDMORPH_SOURCE_DIR "/CMakeLists.txt", {}) << notFound;
    QTest::newRow("blanks only") << ::CommandLine().addLiteral("   ") << notFound;
}

void TestDOSOutputs::startFailures()
{
    QFETCH(::CommandLine, command);
    QFETCH(QString, message);

    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    QCOMPARE(runner.ExecuteCommand(writer({"hex", hexOf("kept\n")})), QStringLiteral("kept\n"));
    const ::CommandLine previous = runner.CommandLine();

    QSignalSpy received(&runner, &DOSOutputs::ReceiveOutputs);
    QSignalSpy over(&runner, &DOSOutputs::CommandOver);
    if (command.isEmpty())
        runner.setCommandLine(::CommandLine());
    QCOMPARE(runner.ExecuteCommand(command), QString());
    QVERIFY(!runner.Start(command));
    QTest::qWait(100);

    QCOMPARE(messages.messages.size(), 2);
    for (const RecordingMessageSink::Message &shown : std::as_const(messages.messages)) {
        QCOMPARE(shown.icon, MessageSink::Icon::Stop);
        QCOMPARE(shown.caption, QStringLiteral("Vidmorph"));
        QCOMPARE(shown.text, message);
    }
    QCOMPARE(received.count(), 0);
    QCOMPARE(over.count(), 0);
    QCOMPARE(runner.Outputs(), QStringLiteral("kept\n"));
    QVERIFY(!runner.isRunning());
    QVERIFY(!runner.lastResult().started);
    QCOMPARE(runner.CommandLine(), command.isEmpty() ? ::CommandLine() : command);
    QVERIFY(previous != runner.CommandLine());
    QCOMPARE(ownChildren(), QStringList());
}

void TestDOSOutputs::pipeFailure()
{
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    QCOMPARE(runner.ExecuteCommand(writer({"hex", hexOf("kept\n")})), QStringLiteral("kept\n"));
    QSignalSpy received(&runner, &DOSOutputs::ReceiveOutputs);
    QSignalSpy over(&runner, &DOSOutputs::CommandOver);

    // Every descriptor below the lowest free one is taken, so a limit there leaves none.
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    QVERIFY(lowestFree >= 0);
    ::close(lowestFree);
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &lowered) == 0);
    const bool started = runner.Start();
    ::setrlimit(RLIMIT_NOFILE, &saved);

    QVERIFY(!started);
    QCOMPARE(messages.messages.size(), 1);
    QCOMPARE(messages.messages[0].icon, MessageSink::Icon::Stop);
    QCOMPARE(messages.messages[0].caption, QStringLiteral("Vidmorph"));
    QCOMPARE(messages.messages[0].text, QStringLiteral("CreatePipe failed. Error: %1").arg(EMFILE));
    QTest::qWait(50);
    QCOMPARE(received.count(), 0);
    QCOMPARE(over.count(), 0);
    QCOMPARE(runner.Outputs(), QStringLiteral("kept\n"));
}

void TestDOSOutputs::argumentsArriveByteForByte()
{
    const QStringList arguments{QStringLiteral("-i"),
                                QStringLiteral("/media/my clips/a  b.avi"),
                                QStringLiteral("say \"hi\" 'there'"),
                                QString::fromUtf8("中文 视频.mp4"),
                                QStringLiteral("-leading dash"),
                                QStringLiteral("line\nbreak"),
                                QString()};
    QString expected;
    for (const QString &argument : arguments)
        expected += hexOf(argument.toUtf8()) + QLatin1Char('\n');

    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    QCOMPARE(runner.ExecuteCommand(writer(QStringList{"echo-args"} + arguments)), expected);
}

void TestDOSOutputs::executeCommandRunsAndKeepsTheCommand()
{
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    int handled = 0;
    connect(&runner, &DOSOutputs::CommandOver, this, [&handled] { ++handled; });

    const ::CommandLine first = writer({"hex", hexOf("first\n")});
    QCOMPARE(runner.ExecuteCommand(first), QStringLiteral("first\n"));
    QCOMPARE(handled, 1);
    QCOMPARE(runner.CommandLine(), first);

    QCOMPARE(runner.ExecuteCommand(), QStringLiteral("first\n"));
    QCOMPARE(handled, 2);
    QCOMPARE(runner.CommandLine(), first);

    const ::CommandLine second = writer({"hex", hexOf("second\n")});
    runner.setCommandLine(second);
    QCOMPARE(runner.CommandLine(), second);
    QCOMPARE(runner.ExecuteCommand(), QStringLiteral("second\n"));
    QCOMPARE(handled, 3);
    QVERIFY(messages.messages.isEmpty());
}

void TestDOSOutputs::commandOverHandlerCanStartTheNextRun()
{
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    RunLog log(runner);
    bool nextStarted = false;
    connect(&runner, &DOSOutputs::CommandOver, this, [&] {
        if (log.overs == 1)
            nextStarted = runner.Start(writer({"hex", hexOf("two\n")}));
    });
    runner.ExecuteCommand(writer({"hex", hexOf("one\n")}));
    QVERIFY(nextStarted);
    QVERIFY(runner.isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(log.overs, 2, 5000);
    QCOMPARE(log.chunks, (QStringList{"one\n", "two\n"}));
    QCOMPARE(runner.Outputs(), QStringLiteral("two\n"));
}

// A timer set before the run fires while the tool still runs, however busy the machine: its
// handler is what ends the run. A runner that blocked the event loop would leave the tool to
// its minute of sleep and the timer to fire after it.
void TestDOSOutputs::eventLoopRunsDuringARun()
{
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    bool firedWhileRunning = false;
    QTimer::singleShot(10, this, [&] {
        firedWhileRunning = runner.isRunning();
        runner.Stop();
    });
    runner.ExecuteCommand(writer({"hex", hexOf("a\n"), "sleep", "60000"}));
    QVERIFY(firedWhileRunning);
    QVERIFY(runner.lastResult().stopped);
}

void TestDOSOutputs::exitStatus_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crashed");
    QTest::newRow("success") << QStringList{"exit", "0"} << 0 << false;
    QTest::newRow("exit 3 after output") << QStringList{"hex", "6f6b0a", "exit", "3"} << 3 << false;
    QTest::newRow("exit 255") << QStringList{"exit", "255"} << 255 << false;
    QTest::newRow("abort") << QStringList{"hex", "6f6b0a", "abort"} << 0 << true;
}

void TestDOSOutputs::exitStatus()
{
    QFETCH(QStringList, actions);
    QFETCH(int, exitCode);
    QFETCH(bool, crashed);
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    QSignalSpy over(&runner, &DOSOutputs::CommandOver);
    runner.ExecuteCommand(writer(actions));
    QCOMPARE(over.count(), 1);
    const RunResult result = runner.lastResult();
    QVERIFY(result.started);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.crashed, crashed);
    QVERIFY(!result.stopped);
}

void TestDOSOutputs::killedFromOutsideIsACrash()
{
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    QSignalSpy over(&runner, &DOSOutputs::CommandOver);
    const QList<qint64> pids = startWithGrandchild(runner, {"grandchild", "sleep", "5000"});
    QCOMPARE(pids.size(), 2);
    QCOMPARE(::kill(static_cast<pid_t>(pids[0]), SIGKILL), 0);
    QVERIFY(over.wait(3000));
    QVERIFY(runner.lastResult().crashed);
    QVERIFY(!runner.lastResult().stopped);
}

void TestDOSOutputs::stopEndsTheWholeGroup_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::newRow("both end on SIGTERM") << QStringList{"grandchild", "sleep", "5000"};
    QTest::newRow("tool ignores SIGTERM")
        << QStringList{"grandchild", "ignore-term", "sleep", "5000"};
    QTest::newRow("tool and grandchild ignore SIGTERM")
        << QStringList{"ignore-term", "grandchild", "sleep", "5000"};
}

void TestDOSOutputs::stopEndsTheWholeGroup()
{
    QFETCH(QStringList, actions);
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    QSignalSpy over(&runner, &DOSOutputs::CommandOver);
    const QList<qint64> pids = startWithGrandchild(runner, actions);
    QCOMPARE(pids.size(), 2);

    QElapsedTimer clock;
    clock.start();
    runner.Stop();
    QVERIFY2(clock.elapsed() < 50, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(over.wait(3000));
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!runner.isRunning());
    runner.Stop();
    QTest::qWait(50);
    QCOMPARE(over.count(), 1);

    const RunResult result = runner.lastResult();
    QVERIFY(result.started);
    QVERIFY(result.stopped);
    QVERIFY(!result.crashed);
    QVERIFY(processGone(pids[0]));
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pids[1]), 2000);
}

void TestDOSOutputs::leftoverGrandchildEndsWithTheRun()
{
    RecordingMessageSink messages;
    DOSOutputs runner(&messages);
    const QString output = runner.ExecuteCommand(writer({"grandchild", "exit", "0"}));
    const QStringList words = output.simplified().split(' ');
    QCOMPARE(words.size(), 3);
    QVERIFY(!runner.lastResult().stopped);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(words[2].toLongLong()), 2000);
}

void TestDOSOutputs::destructorEndsTheWholeGroup()
{
    RecordingMessageSink messages;
    auto *runner = new DOSOutputs(&messages);
    const QList<qint64> pids =
        startWithGrandchild(*runner, {"ignore-term", "grandchild", "sleep", "5000"});
    QCOMPARE(pids.size(), 2);
    QElapsedTimer clock;
    clock.start();
    delete runner;
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(processGone(pids[0]));
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pids[1]), 2000);
}

void TestDOSOutputs::destroyedByItsOwnHandler_data()
{
    QTest::addColumn<bool>("onOutput");
    QTest::newRow("ReceiveOutputs handler") << true;
    QTest::newRow("CommandOver handler") << false;
}

void TestDOSOutputs::destroyedByItsOwnHandler()
{
    // The window may drop a runner from any of its handlers, even mid-run.
    QFETCH(bool, onOutput);
    RecordingMessageSink messages;
    auto *runner = new DOSOutputs(&messages);
    QPointer<DOSOutputs> watch(runner);
    qint64 grandchild = 0;
    connect(runner, &DOSOutputs::ReceiveOutputs, this, [&](const QString &chunk) {
        grandchild = chunk.simplified().split(' ').value(2).toLongLong();
        if (onOutput)
            delete runner;
    });
    connect(runner, &DOSOutputs::CommandOver, this, [&] { delete runner; });
    const QStringList actions = onOutput ? QStringList{"grandchild", "sleep", "5000"}
                                         : QStringList{"grandchild", "exit", "0"};
    QCOMPARE(runner->ExecuteCommand(writer(actions)), QString());
    QVERIFY(watch.isNull());
    QVERIFY(grandchild > 0);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(grandchild), 2000);
    QCOMPARE(ownChildren(), QStringList());
}

QTEST_GUILESS_MAIN(TestDOSOutputs)
#include "test_dosoutputs.moc"
