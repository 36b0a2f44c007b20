// Stops and silence: a stop signal ends the tool and its ffmpeg and removes the partial file,
// SIGKILL takes ffmpeg along, and progress keeps coming while the encoder is quiet.
#include "ToolCommands.h"
#include "ToolsFixture.h"

#include "ProcessTable.h"
#include "TestMedia.h"
#include "tools/ToolContract.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <csignal>

class TestToolsSignals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void stopSignalEndsEncoderAndRemovesOutput_data();
    void stopSignalEndsEncoderAndRemovesOutput();
    void killedToolTakesItsEncoderAlong_data();
    void killedToolTakesItsEncoderAlong();
    void progressWhileTheEncoderIsSilent_data();
    void progressWhileTheEncoderIsSilent();
    void progressMovesInTheSoundPass();

private:
    ToolsFixture m_tools;
};

using namespace ToolCommands;

void TestToolsSignals::initTestCase()
{
    const QString error = m_tools.prepare({"stereo.mp4", "long.mp4"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestToolsSignals::stopSignalEndsEncoderAndRemovesOutput_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<int>("signal");
    QTest::newRow("conv, SIGTERM")
        << "conv" << QStringList{"IN"} + StageOneMpeg2 << "clip.mpg" << int(SIGTERM);
    QTest::newRow("conv, SIGINT") << "conv" << QStringList{"IN"} + StageOneMpeg4 << "clip.mp4"
                                  << int(SIGINT);
    QTest::newRow("coder, SIGTERM") << "coder" << RealFixed << "clip.rmvb" << int(SIGTERM);
    QTest::newRow("coder2, SIGINT") << "coder2" << mobile("320x240") << "clip.3gp" << int(SIGINT);
    QTest::newRow("coder H265, SIGTERM") << "coder" << H265 << "clip.mp4" << int(SIGTERM);
}

void TestToolsSignals::stopSignalEndsEncoderAndRemovesOutput()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(int, signal);

    const QString folder = m_tools.freshFolder();
    const QString temporary = m_tools.freshFolder();
    for (const char *placeholder : {"SCRATCH", "IN"})
        if (arguments.contains(placeholder))
            arguments.replace(arguments.indexOf(placeholder), m_tools.input("long.mp4"));
    arguments.replace(arguments.indexOf("OUT"), folder + QLatin1Char('/') + outputName);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temporary);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
    process.start(TestMedia::toolPath(tool), arguments);
    QVERIFY(process.waitForStarted());

    // Wait until the encoder writes its partial file, then stop the tool as the runner does.
    QElapsedTimer timer;
    timer.start();
    QList<qint64> encoders;
    while (timer.elapsed() < 30000 && encoders.isEmpty() && process.state() == QProcess::Running) {
        if (!QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty())
            encoders = ToolsFixture::childrenOf(process.processId());
        QThread::msleep(20);
    }
    QVERIFY2(!encoders.isEmpty(), "no encoder child seen");
    QCOMPARE(process.state(), QProcess::Running);
    QCOMPARE(kill(pid_t(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signal);
    for (qint64 pid : encoders)
        QVERIFY2(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)), "encoder still running");
    QVERIFY(
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    QVERIFY(QDir(temporary)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                .isEmpty());
}

void TestToolsSignals::killedToolTakesItsEncoderAlong_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    // A real ffmpeg also ends when it next writes into the pipe of its dead tool; a silent
    // encoder (busy on a slow frame, or coder2's AMR decoder) writes nothing that could fail.
    QTest::addColumn<bool>("silentEncoder");
    const QStringList mpg = QStringList{"IN"} + StageOneMpeg2;
    QTest::newRow("conv") << "conv" << mpg << "clip.mpg" << false;
    QTest::newRow("coder") << "coder" << RealFixed << "clip.rmvb" << false;
    QTest::newRow("coder2") << "coder2" << mobile("320x240") << "clip.3gp" << false;
    QTest::newRow("conv, silent encoder") << "conv" << mpg << "clip.mpg" << true;
    QTest::newRow("coder, silent encoder") << "coder" << RealFixed << "clip.rmvb" << true;
    QTest::newRow("coder2, silent AMR decoder")
        << "coder2" << mobile("320x240") << "clip.3gp" << true;
}

// SIGKILL cannot be caught: the tool cannot stop its ffmpeg or remove anything. The kernel
// must end the encoder with it, and nothing of the run may be left in $TMPDIR.
void TestToolsSignals::killedToolTakesItsEncoderAlong()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(bool, silentEncoder);
    const bool inAmrPass = silentEncoder && tool == QLatin1String("coder2");

    // Every ffmpeg of this run names a file in this folder, so /proc shows which are left.
    const QString folder =
        m_tools.freshFolder() + QStringLiteral("/sigkill-%1").arg(QTest::currentDataTag());
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/long.mp4");
    QVERIFY(QFile::link(m_tools.input("long.mp4"), source));
    const QString temporary = m_tools.freshFolder();
    for (QString &argument : arguments)
        argument =
            ToolsFixture::toolArgument(argument, source, folder + QLatin1Char('/') + outputName);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temporary);
    // The real ffmpeg reads its input at the clip's own pace, so that the kill finds it at work
    // however fast the machine encodes.
    const QByteArray encoder = silentEncoder ? "out=${@: -1}; out=${out#file:}\n"
                                               "[ \"$out\" = pipe:1 ] || : > \"$out\"\n"
                                               "while :; do sleep 0.1; done\n"
                                             : "case ${@: -1} in pipe:1) pace= ;;\n"
                                               "*) pace='-readrate 1' ;; esac\n"
                                               "exec \"$REAL_FFMPEG\" $pace \"$@\"\n";
    environment.insert("REAL_FFMPEG", QStandardPaths::findExecutable(QStringLiteral("ffmpeg")));
    environment.insert("PATH", m_tools.standInFfmpeg(encoder) + QLatin1Char(':') +
                                   environment.value("PATH"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(TestMedia::toolPath(tool), arguments);
    QVERIFY(process.waitForStarted());

    // Killed once the encoder is at work: the AMR decoder, or the ffmpeg writing the output.
    const auto childAtWork = [&] {
        const QList<qint64> children = ToolsFixture::childrenOf(process.processId());
        if (children.size() != 1)
            return false;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(children.first()));
        if (!cmdline.open(QIODevice::ReadOnly))
            return false;
        const QList<QByteArray> words = cmdline.readAll().split('\0');
        // ffmpeg itself, or the script standing in for it (not ffprobe measuring a file).
        const bool ffmpeg = std::any_of(
            words.begin(), words.begin() + qMin(2, int(words.size())),
            [](const QByteArray &word) { return word == "ffmpeg" || word.endsWith("/ffmpeg"); });
        // The AMR decoder writes to its standard output, the last argument.
        const bool decoder = words.size() > 1 && words.at(words.size() - 2) == "pipe:1";
        return ffmpeg && decoder == inAmrPass;
    };
    QTRY_VERIFY_WITH_TIMEOUT(childAtWork(), 30000);
    const auto encoders = [&] { return processesMentioning({folder}); };
    // Should the encoder outlive the test, it must not go on running after it.
    const auto leftovers = qScopeGuard([&] {
        for (const QString &line : encoders())
            kill(pid_t(line.section(QLatin1Char(' '), 0, 0).toLongLong()), SIGKILL);
    });
    QCOMPARE(kill(pid_t(process.processId()), SIGKILL), 0);
    QVERIFY(process.waitForFinished(5000));
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY2_WITH_TIMEOUT(encoders().isEmpty(), qPrintable(encoders().join('\n')), 3000);
    qInfo("encoder gone %lld ms after the tool", timer.elapsed());
    QCOMPARE(QDir(temporary).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void TestToolsSignals::progressWhileTheEncoderIsSilent_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<bool>("working"); // the silent encoder uses the processor
    QTest::newRow("conv") << "conv" << QStringList{"IN"} + StageOneMpeg4 << "clip.mp4" << true;
    QTest::newRow("coder") << "coder" << RealFixed << "clip.rmvb" << true;
    QTest::newRow("coder2, AMR pass") << "coder2" << mobile("176x144") << "clip.3gp" << true;
    QTest::newRow("conv, encoder stuck")
        << "conv" << QStringList{"IN"} + StageOneMpeg4 << "clip.mp4" << false;
}

// The converter ends a tool that prints nothing for ten minutes. A stand-in for ffmpeg names
// the input's length and then works for a few seconds without a word (a slow first frame, or
// coder2's AMR decoder): the tool still shows its progress at least every two seconds. One
// that is stuck (no processor time) gets no such help, so the converter can still end it.
void TestToolsSignals::progressWhileTheEncoderIsSilent()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(bool, working);

    const QByteArray wait =
        working ? "end=$((SECONDS + 5)); while [ $SECONDS -lt $end ]; do :; done\n" : "sleep 5\n";
    const QString standIn = m_tools.standInFfmpeg(
        "out=${@: -1}; out=${out#file:}\n"
        "printf \"Input #0, avi, from 'x':\\n  Duration: 00:00:10.00, start: 0.0\\n\" >&2\n" +
        wait + "[ \"$out\" = pipe:1 ] && exit 1\nprintf x > \"$out\"\n");
    const QString folder = m_tools.freshFolder();
    for (QString &argument : arguments)
        argument = ToolsFixture::toolArgument(argument, m_tools.input("stereo.mp4"),
                                              folder + '/' + outputName);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", standIn + QLatin1Char(':') + environment.value("PATH"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(TestMedia::toolPath(tool), arguments);
    QVERIFY(process.waitForStarted());
    // When each progress line arrived, from the start to the end of the run.
    QList<qint64> times = {0};
    QByteArray printed;
    while (process.state() != QProcess::NotRunning && clock.elapsed() < 30000) {
        process.waitForReadyRead(50);
        const QByteArray chunk = process.readAllStandardOutput();
        printed += chunk;
        for (char c : chunk)
            if (c == '\r' || c == '\n')
                times.append(clock.elapsed());
    }
    QCOMPARE(process.state(), QProcess::NotRunning);
    printed += process.readAllStandardOutput();
    times.append(clock.elapsed());
    qint64 longest = 0;
    for (int i = 1; i < times.size(); ++i)
        longest = qMax(longest, times[i] - times[i - 1]);
    QVERIFY2(clock.elapsed() >= 3500, "the stand-in did not hold the run");
    qInfo("longest time without a line: %lld ms of %lld ms", longest, clock.elapsed());
    if (working)
        QVERIFY2(longest <= 2000, qPrintable(QStringLiteral("%1 ms without a line: %2")
                                                 .arg(longest)
                                                 .arg(QString::fromUtf8(printed))));
    else
        QVERIFY2(longest >= 3000, qPrintable(QStringLiteral("%1 ms without a line: %2")
                                                 .arg(longest)
                                                 .arg(QString::fromUtf8(printed))));
    // The repeated lines are progress the converter reads, and never more than done.
    const QString text = QString::fromUtf8(printed);
    const QList<double> progress = shownProgress(text, tool == QLatin1String("conv"));
    if (working)
        QVERIFY2(progress.size() >= 2 && progress.first() == 0.0, qPrintable(text));
}

// coder2 encodes AMR-NB sound in a pass of its own before the picture; a stand-in for ffmpeg
// hands it the thirty seconds of the clip's sound in ten pieces. The converter's progress moves
// through that pass instead of standing at 0 % until the picture's turn.
void TestToolsSignals::progressMovesInTheSoundPass()
{
    const QString standIn = m_tools.standInFfmpeg(
        "out=${@: -1}\n"
        "printf \"Input #0, avi, from 'x':\\n  Duration: 00:00:30.00, start: 0.0\\n\" >&2\n"
        "if [ \"$out\" = pipe:1 ]; then\n"
        "  for i in $(seq 10); do head -c 48000 /dev/zero; sleep 0.3; done\n"
        "else cat \"$STANDIN_MEDIA\" > \"${out#file:}\"; fi\n");
    const QString folder = m_tools.freshFolder();
    QStringList arguments = mobile("176x144");
    for (QString &argument : arguments)
        argument = ToolsFixture::toolArgument(argument, m_tools.input("long.mp4"),
                                              folder + QStringLiteral("/clip.3gp"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", standIn + QLatin1Char(':') + environment.value("PATH"));
    // What it writes must play: the tool checks.
    environment.insert("STANDIN_MEDIA", m_tools.input("stereo.mp4"));
    const ToolsFixture::Run run = m_tools.runTool("coder2", arguments, folder, 0, environment);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QList<double> duringSound;
    for (double shown : shownProgress(run.output, false))
        if (shown > 0 && shown < 100 && !duringSound.contains(shown))
            duringSound.append(shown);
    QVERIFY2(duringSound.size() >= 2, qPrintable(run.output));
    for (int i = 1; i < duringSound.size(); ++i)
        QVERIFY2(duringSound[i] > duringSound[i - 1], qPrintable(run.output));
}

QTEST_GUILESS_MAIN(TestToolsSignals)
#include "test_tools_signals.moc"
