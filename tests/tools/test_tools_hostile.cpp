#include "TestMedia.h"
#include "convert/FailureReason.h"
#include "convert/ProgressParser.h"
#include "tools/ToolContract.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// The three tools for real, over the system's ffmpeg, where another user or a file works against
// them: links planted at the names they write, files that decode to nothing or whose timestamps
// jump by hours, titles that pose as lengths, formats that write more than one file, and a
// system short of memory, processes or open files.
class TestToolsHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void replacesTheFileItIsToldToWrite_data();
    void replacesTheFileItIsToldToWrite();
    void linkPlanterRacesTheTool_data();
    void linkPlanterRacesTheTool();
    void onlyPlayableOutputsOfTheRightLength_data();
    void onlyPlayableOutputsOfTheRightLength();
    void titlesCannotFakeTheLength_data();
    void titlesCannotFakeTheLength();
    void refusesOtherFiles_data();
    void refusesOtherFiles();
    void saysWhatTheSystemRanShortOf_data();
    void saysWhatTheSystemRanShortOf();

private:
    struct Run
    {
        int exitCode = -1;
        QString output;
        QString lastLine() const
        {
            const QStringList lines =
                output.split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts);
            return lines.isEmpty() ? QString() : lines.last();
        }
    };
    // Runs a tool to its end. `inChild` runs in the child before it becomes the tool;
    // `beforeItRuns` in this process, with the tool's process id, while the child waits.
    Run runTool(const QString &tool, const QStringList &arguments,
                const std::function<void()> &inChild = {},
                const std::function<void(pid_t)> &beforeItRuns = {});
    // A folder all users may write, as a group-shared output folder is.
    QString sharedFolder();
    // An input made once by ffmpeg from its arguments (sources and codecs, no output).
    QString made(const QString &name, const QStringList &ffmpegArguments);
    QString input(const QString &name) const
    {
        return m_dir.filePath(QStringLiteral("in/") + name);
    }
    static QStringList command(const QString &format, const QString &input, const QString &output);
    static QString errorLine(const char *text)
    {
        return QString::fromUtf8(ToolContract::ErrorPrefix) + QString::fromUtf8(text);
    }

    QTemporaryDir m_dir;
    int m_folders = 0;
    QString m_otherUser; // a throwaway user made for these tests, empty when none could be
    uid_t m_otherUid = 0;
    gid_t m_otherGid = 0;
};

namespace {
// Stage one and the one-run formats as the converter writes their command lines.
const QStringList Mpeg4 = {"-oac", "mp3lame", "-lameopts", "preset=320",
                           "-ovc", "lavc",    "-lavcopts", "vcodec=mpeg4:vbitrate=1200",
                           "-of",  "avi",     "-o"};
const QStringList Mp3 = {"-y", "-vn", "-ar", "48000", "-ab", "320k", "-ac", "2"};
const QStringList M4a = {"-y", "-vn", "-acodec", "aac", "-ar", "48000", "-ab", "192k", "-ac", "2"};
const QStringList H264 = {"-y",  "-vcodec", "libx264", "-b",   "1500k", "-acodec", "aac",
                          "-ar", "48000",   "-ab",     "128k", "-ac",   "2"};
const QStringList Rmvb = {"-y", "-vcodec", "rv10", "-b",  "1200k", "-f",
                          "rm", "-ab",     "128k", "-ac", "2"};
const QStringList Mobile = {"-y",  "-s", "176x144", "-vcodec", "mpeg4", "-acodec", "amr_nb",
                            "-ac", "1",  "-ar",     "8000",    "-ab",   "12.2k"};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}
} // namespace

QStringList TestToolsHostile::command(const QString &format, const QString &input,
                                      const QString &output)
{
    if (format == QLatin1String("MPEG4"))
        return QStringList{input} + Mpeg4 + QStringList{output};
    const QHash<QString, QStringList> coder = {
        {"MP3", Mp3}, {"M4A", M4a}, {"H264", H264}, {"RMVB", Rmvb}, {"3GP", Mobile}};
    return QStringList{"-i", input} + coder.value(format) + QStringList{output};
}

void TestToolsHostile::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("VIDMORPH_VAAPI_DEVICE", "");
    // Another user must reach the inputs and the shared folders below.
    QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::ExeOther));
    QVERIFY(QDir().mkpath(input(QString())));
    QCOMPARE(TestMedia::make(input("clip.mp4"), QSize(160, 120), 1, 2), QString());
    if (::geteuid() != 0)
        return;
    const QString name = QStringLiteral("vmplant%1").arg(::getpid());
    QProcess useradd;
    useradd.start(QStringLiteral("useradd"),
                  {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", name});
    if (!useradd.waitForFinished(30000) || useradd.exitCode() != 0)
        return;
    if (const passwd *user = ::getpwnam(name.toUtf8().constData())) {
        m_otherUser = name;
        m_otherUid = user->pw_uid;
        m_otherGid = user->pw_gid;
    }
}

void TestToolsHostile::cleanupTestCase()
{
    if (m_otherUser.isEmpty())
        return;
    QProcess userdel;
    userdel.start(QStringLiteral("userdel"), {m_otherUser});
    userdel.waitForFinished(30000);
}

TestToolsHostile::Run TestToolsHostile::runTool(const QString &tool, const QStringList &arguments,
                                                const std::function<void()> &inChild,
                                                const std::function<void(pid_t)> &beforeItRuns)
{
    // By hand rather than with QProcess, so that the child can stop before it becomes the tool.
    std::vector<QByteArray> bytes = {QFile::encodeName(TestMedia::toolPath(tool))};
    for (const QString &argument : arguments)
        bytes.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    Run run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int nothing = ::open("/dev/null", O_RDONLY);
        ::dup2(nothing, 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        // Nothing of this process but the three streams, as QProcess does.
        ::close_range(3, ~0U, 0);
        if (inChild)
            inChild();
        if (beforeItRuns)
            ::raise(SIGSTOP);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    int status = 0;
    if (beforeItRuns && ::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) {
        beforeItRuns(pid);
        ::kill(pid, SIGCONT);
    }
    QByteArray output;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        output.append(buffer, n > 0 ? n : 0);
    ::close(out[0]);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = QString::fromUtf8(output);
    return run;
}

QString TestToolsHostile::sharedFolder()
{
    const QString path = m_dir.filePath(QStringLiteral("shared%1").arg(++m_folders));
    if (QDir().mkpath(path))
        ::chmod(QFile::encodeName(path).constData(), 0777);
    return path;
}

QString TestToolsHostile::made(const QString &name, const QStringList &ffmpegArguments)
{
    const QString path = input(name);
    const QString error = TestMedia::makeWith(path, ffmpegArguments);
    if (!error.isEmpty()) {
        qWarning() << error;
        return QString();
    }
    return path;
}

void TestToolsHostile::replacesTheFileItIsToldToWrite_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("name");
    QTest::newRow("conv, the intermediate file of the last file") << "conv"
                                                                  << "MPEG4"
                                                                  << "tmp.mp4";
    QTest::newRow("coder, an earlier output") << "coder"
                                              << "MP3"
                                              << "clip-93512.mp3";
    QTest::newRow("coder2, an earlier output") << "coder2"
                                               << "3GP"
                                               << "clip-93512.3gp";
}

// A tool writes the file named in its command line, whatever stood there before; the engine's
// reservation is what keeps runs apart, not the tool.
void TestToolsHostile::replacesTheFileItIsToldToWrite()
{
    QFETCH(QString, tool);
    QFETCH(QString, format);
    QFETCH(QString, name);
    const QString folder = sharedFolder();
    const QString output = folder + QLatin1Char('/') + name;
    writeFile(output, "the previous file's output", QFile::ReadOwner | QFile::WriteOwner);
    const Run run = runTool(tool, command(format, input("clip.mp4"), output));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QVERIFY(TestMedia::probe(output).readable);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{name});
}

void TestToolsHostile::linkPlanterRacesTheTool_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("format");
    // "names": links at the names runs used to write under, for the next process ids;
    // "final": those and one at the final name; "race": those and one in place of each
    // hidden file as it appears.
    QTest::addColumn<QString>("plants");
    QTest::addColumn<bool>("otherUser");
    for (bool other : {false, true}) {
        const char *who = other ? "another user" : "the same user";
        QTest::addRow("%s plants links at the names of old, coder", who) << "coder"
                                                                         << "MP3"
                                                                         << "names" << other;
        QTest::addRow("%s plants links at the names of old, conv", who) << "conv"
                                                                        << "MPEG4"
                                                                        << "names" << other;
        QTest::addRow("%s plants a link at the final name, coder2", who) << "coder2"
                                                                         << "3GP"
                                                                         << "final" << other;
        QTest::addRow("%s swaps hidden files for links, coder", who) << "coder"
                                                                     << "MP3"
                                                                     << "race" << other;
        QTest::addRow("%s swaps hidden files for links, coder2", who) << "coder2"
                                                                      << "3GP"
                                                                      << "race" << other;
    }
}

// In a folder others may write, a planter puts links to the user's private file at the final
// name, at every name a run used to write under, and (racing) in place of each hidden file the
// tool makes. Whatever it wins, the private file stays as it was, and a run that succeeds leaves
// a file of the user's own.
void TestToolsHostile::linkPlanterRacesTheTool()
{
    QFETCH(QString, tool);
    QFETCH(QString, format);
    QFETCH(QString, plants);
    QFETCH(bool, otherUser);
    if (otherUser && m_otherUser.isEmpty())
        QSKIP("no second user: the tests do not run as root, or useradd failed");

    const QString folder = sharedFolder();
    const QString victim = m_dir.filePath(QStringLiteral("private%1.txt").arg(m_folders));
    writeFile(victim, "private", QFile::ReadOwner | QFile::WriteOwner);
    const QString output = folder + QStringLiteral("/clip-93512.") +
                           (format == QLatin1String("MPEG4") ? "mp4"
                            : format == QLatin1String("MP3") ? "mp3"
                                                             : "3gp");
    writeFile(output, {}, QFile::ReadOwner | QFile::WriteOwner); // the converter's reservation

    // The planter knows the tool's process id, as one that watches the process list does, and
    // has done its work before the tool begins.
    QFile script(folder + QStringLiteral("/../planter%1.sh").arg(m_folders));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("dir=$1 victim=$2 final=$3 plants=$4 pid=$5\n"
                 "ln -s \"$victim\" \"$dir/.vidmorph-$pid-${final##*/}\"\n"
                 "[ \"$plants\" = names ] || { rm -f \"$final\"; ln -s \"$victim\" \"$final\"; }\n"
                 ": > \"$dir/.planted\"\n"
                 "[ \"$plants\" = race ] || exec sleep 1000\n"
                 "while :; do for f in \"$dir\"/.vidmorph-*; do\n"
                 "    [ -L \"$f\" ] || { rm -f \"$f\" && ln -s \"$victim\" \"$f\"; } 2>/dev/null\n"
                 "done; done\n");
    script.close();
    QProcess planter;
    if (otherUser)
        planter.setChildProcessModifier([this] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(m_otherGid) != 0 ||
                ::setuid(m_otherUid) != 0)
                ::_exit(126);
        });
    const auto stopPlanter = qScopeGuard([&planter] {
        planter.kill();
        planter.waitForFinished();
    });
    const Run run = runTool(tool, command(format, input("clip.mp4"), output), {}, [&](pid_t pid) {
        planter.start(QStringLiteral("/bin/sh"),
                      {script.fileName(), folder, victim, output, plants, QString::number(pid)});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + QStringLiteral("/.planted")), 30000);
    });
    planter.kill();
    planter.waitForFinished();
    QVERIFY(QFile::exists(folder + QStringLiteral("/.planted")));

    QCOMPARE(readFile(victim), QByteArray("private"));
    struct stat status = {};
    QCOMPARE(::lstat(QFile::encodeName(output).constData(), &status), 0);
    if (run.exitCode == 0) {
        QVERIFY(S_ISREG(status.st_mode));
        QCOMPARE(status.st_uid, ::geteuid());
        QVERIFY(TestMedia::probe(output).readable);
    } else {
        // Only a race won on the hidden file ends a run, and then nothing is taken for output.
        QVERIFY2(plants == QLatin1String("race"), qPrintable(run.output));
        QVERIFY2(run.lastLine().startsWith(errorLine(ToolContract::Error::CannotCreate)) &&
                     run.lastLine().contains(QLatin1String("another program")),
                 qPrintable(run.output));
        QVERIFY(S_ISLNK(status.st_mode));
    }
}

void TestToolsHostile::onlyPlayableOutputsOfTheRightLength_data()
{
    QTest::addColumn<QString>("source"); // "empty sound", "jump" or "late"
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("error"); // empty: converts
    namespace E = ToolContract::Error;
    QTest::newRow("empty sound to MP3") << "empty sound"
                                        << "MP3" << errorLine(E::OutputUnplayable);
    QTest::newRow("empty sound to M4A") << "empty sound"
                                        << "M4A" << errorLine(E::OutputNoStream);
    QTest::newRow("empty sound to H264, the picture alone") << "empty sound"
                                                            << "H264" << QString();
    // A frame an hour ahead of the others is closed up, in every way a format makes its rate.
    QTest::newRow("a jump of an hour, RMVB at a fixed rate") << "jump"
                                                             << "RMVB" << QString();
    QTest::newRow("a jump of an hour, H264") << "jump"
                                             << "H264" << QString();
    QTest::newRow("a jump of an hour, stage one") << "jump"
                                                  << "MPEG4" << QString();
    // A picture that starts an hour after its sound is no leap within a stream: the fps filter
    // would fill the hour with its first frame, and the encoder is stopped.
    QTest::newRow("a picture an hour late, stage one") << "late"
                                                       << "MPEG4" << errorLine(E::OutputTooLong);
}

// A sound track that decodes to nothing, a frame whose time leaps an hour ahead and a picture
// that starts an hour late: no output that cannot be played or runs for hours is taken for a
// result, and none takes longer than the clip's own length allows.
void TestToolsHostile::onlyPlayableOutputsOfTheRightLength()
{
    QFETCH(QString, source);
    QFETCH(QString, format);
    QFETCH(QString, error);
    const QStringList picture = {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1"};
    const QString path =
        source == QLatin1String("jump")
            ? made("jump.ts", picture + QStringList{"-vf", "setpts='if(eq(N,12),PTS+3600/TB,PTS)'",
                                                    "-c:v", "mpeg2video", "-f", "mpegts"})
        : source == QLatin1String("late")
            ? made("late.mkv",
                   picture + QStringList{"-f", "lavfi", "-i", "sine=duration=1", "-vf",
                                         "setpts=PTS+3600/TB", "-c:v", "libx264", "-c:a", "aac"})
            : made("emptysound.mkv",
                   {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1", "-f", "lavfi",
                    "-i", "sine=duration=1", "-map", "0", "-map", "1", "-c:v", "libx264", "-c:a",
                    "aac", "-af", "atrim=end=0"});
    QVERIFY(!path.isEmpty());
    const QString folder = sharedFolder();
    const QString output =
        folder + QStringLiteral("/out.") +
        QHash<QString, QString>{
            {"MP3", "mp3"}, {"M4A", "m4a"}, {"H264", "mp4"}, {"RMVB", "rmvb"}, {"MPEG4", "mp4"}}
            .value(format);
    const Run run =
        runTool(format == QLatin1String("MPEG4") ? "conv" : "coder", command(format, path, output));
    if (!error.isEmpty()) {
        QCOMPARE(run.exitCode, ToolContract::ExitFailed);
        QVERIFY2(run.lastLine().startsWith(error), qPrintable(run.output));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        return;
    }
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const TestMedia::Info info = TestMedia::probe(output);
    QVERIFY(info.readable && !info.videoCodec.isEmpty());
    QVERIFY2(info.duration > 0 && info.duration <= 2.5, qPrintable(QString::number(info.duration)));
}

void TestToolsHostile::titlesCannotFakeTheLength_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tool");
    const QString fake = QStringLiteral("Duration: 99:00:00.00, start: 0.000000");
    QTest::newRow("a title, coder") << "title" << fake << "a.mkv"
                                    << "coder";
    QTest::newRow("a title over two lines, coder") << "title"
                                                   << "x\n  " + fake << "b.mkv"
                                                   << "coder";
    QTest::newRow("a tag named over two lines, conv") << "x\n  " + fake << "y"
                                                      << "c.mp4"
                                                      << "conv";
    QTest::newRow("a tag named over two lines, coder") << "x\n  " + fake << "y"
                                                       << "c.mp3"
                                                       << "coder";
    QTest::newRow("a file name over two lines, coder") << "title"
                                                       << "t"
                                                       << "d\n  " + fake + ".mkv"
                                                       << "coder";
}

// Whatever a file's metadata or name says, the length the tools tell is the file's own: here
// one second, not 99 hours that would make the progress bar crawl and the batch estimate lie.
void TestToolsHostile::titlesCannotFakeTheLength()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, name);
    QFETCH(QString, tool);
    // MP3 and MP4 keep any tag's name as it is, line breaks included.
    QStringList sources = {"-f", "lavfi", "-i", "sine=duration=1"};
    if (!name.endsWith(QLatin1String(".mp3")))
        sources += {"-f",        "lavfi",
                    "-i",        "testsrc=size=160x120:rate=25:duration=1",
                    "-c:v",      "libx264",
                    "-c:a",      "aac",
                    "-movflags", "use_metadata_tags"};
    sources += {"-metadata", key + QLatin1Char('=') + value};
    const QString path = made(name, sources);
    QVERIFY(!path.isEmpty());
    const QString folder = sharedFolder();
    const Run run = runTool(tool, command(tool == QLatin1String("conv") ? "MPEG4" : "MP3", path,
                                          folder + QStringLiteral("/out.") +
                                              (tool == QLatin1String("conv") ? "mp4" : "mp3")));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QVERIFY2(!run.output.contains(QLatin1String("99:00:00")), qPrintable(run.output));
    QChar spinner('-');
    qint32 seconds = 0;
    for (const QString &line : run.output.split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts))
        ProgressParser::parseStageTwo(line + QLatin1Char('\n'), spinner, seconds);
    QCOMPARE(seconds, 1);
}

void TestToolsHostile::refusesOtherFiles_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments"); // IN and OUT stand for the files
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("error"); // the last line
    const QString format = errorLine(ToolContract::Error::OutputFormatRefused);
    // Which muxers are refused is OutputFormat's table, tested on its own; these are the ways a
    // command line reaches it.
    QTest::newRow("coder -f hls") << "coder" << QStringList{"-i", "IN", "-y", "-f", "hls", "OUT"}
                                  << "list.mp4" << format + "hls";
    QTest::newRow("coder, a playlist's name")
        << "coder" << QStringList{"-i", "IN", "-y", "OUT"} << "list.m3u8" << format + ".m3u8";
    QTest::newRow("conv, -lavfopts format=dash")
        << "conv" << QStringList{"IN",   "-oac",      "lavc",        "-ovc", "lavc", "-of",
                                 "lavf", "-lavfopts", "format=dash", "-o",   "OUT"}
        << "list.mpg" << format + "dash";
    QTest::newRow("coder, a second input")
        << "coder" << QStringList{"-i", "IN", "-i", "IN", "-y", "OUT"} << "clip.mp3"
        << errorLine(ToolContract::Error::MoreThanOneInput);
}

// Playlists with their segments, image sequences, several outputs at once or a second input
// would read or leave files nobody asked for: the tools refuse them before any work, and write
// nothing.
void TestToolsHostile::refusesOtherFiles()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(QString, error);
    const QString folder = sharedFolder();
    for (QString &argument : arguments)
        argument = argument == QLatin1String("IN")    ? input("clip.mp4")
                   : argument == QLatin1String("OUT") ? folder + QLatin1Char('/') + outputName
                                                      : argument;
    const Run run = runTool(tool, arguments);
    QCOMPARE(run.exitCode, ToolContract::ExitFailed);
    QCOMPARE(run.lastLine(), error);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void TestToolsHostile::saysWhatTheSystemRanShortOf_data()
{
    QTest::addColumn<int>("resource");
    QTest::addColumn<qlonglong>("limit");
    QTest::addColumn<bool>("otherUser"); // root has no limit of processes
    QTest::addColumn<QString>("reason");
    // Room for the tool and ffmpeg's libraries to load, and not for ffmpeg to work.
    QTest::newRow("ulimit -v") << int(RLIMIT_AS) << qlonglong(200) * 1024 * 1024 << false
                               << "内存不足";
    QTest::newRow("ulimit -u") << int(RLIMIT_NPROC) << qlonglong(1) << true
                               << "系统的进程数已达上限";
    QTest::newRow("ulimit -n") << int(RLIMIT_NOFILE) << qlonglong(5) << false
                               << "打开的文件数已达上限";
}

// Short of memory, processes or open files, a tool says so, and the user reads that, not that
// the file is damaged or ffmpeg is missing.
void TestToolsHostile::saysWhatTheSystemRanShortOf()
{
    QFETCH(int, resource);
    QFETCH(qlonglong, limit);
    QFETCH(bool, otherUser);
    QFETCH(QString, reason);
    if (otherUser && m_otherUser.isEmpty())
        QSKIP("no second user: the tests do not run as root, or useradd failed");
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's shadow memory alone needs more address space than the limit leaves.
    if (resource == RLIMIT_AS)
        QSKIP("the tools are built with AddressSanitizer");
#endif
    const QString folder = sharedFolder();
    const uid_t uid = otherUser ? m_otherUid : ::geteuid();
    const gid_t gid = otherUser ? m_otherGid : ::getegid();
    const Run run = runTool("coder", command("MP3", input("clip.mp4"), folder + "/out.mp3"), [=] {
        if (uid != ::geteuid() &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        const rlimit bound = {rlim_t(limit), rlim_t(limit)};
        ::setrlimit(resource, &bound);
    });
    QVERIFY2(run.exitCode == ToolContract::ExitFailed, qPrintable(run.output));
    QVERIFY2(FailureReason::describe(run.output, run.exitCode, false, true) == reason,
             qPrintable(run.output));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_GUILESS_MAIN(TestToolsHostile)
#include "test_tools_hostile.moc"
