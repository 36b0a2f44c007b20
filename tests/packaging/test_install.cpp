#include "TestMedia.h"
#include "convert/FailureReason.h"
#include "convert/Locations.h"
#include "headless/HeadlessOptions.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include <signal.h>

// `cmake --install` into a prefix of its own, the installed program at work, its desktop entry,
// metadata, manual page and completion, and the Debian package that CPack makes from the same
// rules, unpacked into a throwaway root (never installed on the system) and run from there.
class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void layout_data();
    void layout();
    void pngIcons_data();
    void pngIcons();
    void settingsFolder_data();
    void settingsFolder();
    void installedCopyConverts();
    void desktopEntryIsValid();
    void appstreamMetadataIsValid();
    void manualPageHasNoWarnings();
    void optionsAreDocumentedAndCompleted_data();
    void optionsAreDocumentedAndCompleted();
    void completion_data();
    void completion();
    void environmentAndCodesAreDocumented_data();
    void environmentAndCodesAreDocumented();
    void watchUnitRunsAWatch();
    void compressedLikeDebian_data();
    void compressedLikeDebian();
    void debianPackage();
    void packagedBinariesAreHardened_data();
    void packagedBinariesAreHardened();
    void packagedCopyConverts();
    void packagedWindowOpensAndCloses();
    void lintianFindsNoError();

private:
    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err; // only when asked for apart from the output
    };
    static Result runTool(const QString &program, const QStringList &arguments,
                          const QString &folder = QString(), bool separateErrors = false,
                          const QProcessEnvironment &environment = {});
    static bool haveTool(const QString &name)
    {
        return !QStandardPaths::findExecutable(name).isEmpty();
    }
    QStringList prefixFiles() const;
    QStringList complete(const QStringList &words) const;
    QString manualText() const;
    void needPackage() const;

    QTemporaryDir m_prefix;
    QTemporaryDir m_work;
    QTemporaryDir m_packages;
    QString m_deb;       // the package CPack made, once debianPackage has run
    QString m_root;      // where it is unpacked
    QString m_rootError; // why there is no package to look at, when there is none
};

namespace {

// The tests use the source tree's packaging files as they are and the installed copies.
const QString PackagingDir = QStringLiteral(VIDMORPH_SOURCE_DIR "/packaging");

// Every option of the command line, from the program's own table: the manual page explains
// each and every completion offers it.
const QStringList Options = HeadlessOptions::optionNames();

const QStringList Formats = {"RMVB", "RM",  "MPG",  "AVI",  "MPEG4", "MOV", "MP4",
                             "3GP",  "MP3", "H264", "H265", "AV1",   "M4A", "FLAC"};

// Lintian's warnings that the README's Debian package section explains; any other is a fault.
const QStringList ExplainedLintianWarnings = {QStringLiteral("initial-upload-closes-no-bugs")};

} // namespace

TestInstall::Result TestInstall::runTool(const QString &program, const QStringList &arguments,
                                         const QString &folder, bool separateErrors,
                                         const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessChannelMode(separateErrors ? QProcess::SeparateChannels
                                                 : QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(600000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    if (separateErrors)
        result.err = QString::fromUtf8(process.readAllStandardError());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QStringList TestInstall::complete(const QStringList &words) const
{
    // What bash would offer with the cursor at the end of the last word, from the installed
    // completion, in a folder that holds one folder and one file to offer.
    const QString script = QStringLiteral(
        "source \"$1\" || exit 1; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
        "_vidmorph; printf '%s\\n' \"${COMPREPLY[@]}\"");
    const Result run = runTool(QStringLiteral("bash"),
                               QStringList{"-c", script, "complete",
                                           m_prefix.filePath(QStringLiteral(
                                               "share/bash-completion/completions/vidmorph"))} +
                                   words,
                               m_work.filePath(QStringLiteral("completion")), true);
    if (run.exitCode != 0 || !run.err.isEmpty())
        return {QStringLiteral("bash failed: ") + run.err};
    QStringList offered = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    offered.sort();
    return offered;
}

QString TestInstall::manualText() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    const Result man = runTool(QStringLiteral("man"),
                               {"-E", "ascii", "-l", PackagingDir + QStringLiteral("/vidmorph.1")},
                               QString(), true, environment);
    return man.exitCode == 0 ? man.out : QString();
}

void TestInstall::needPackage() const
{
    if (m_root.isEmpty())
        QFAIL(qPrintable(QStringLiteral("no unpacked package: ") + m_rootError));
}

QStringList TestInstall::prefixFiles() const
{
    QStringList files;
    QDirIterator it(m_prefix.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}

void TestInstall::initTestCase()
{
    const Result install = runTool(QStringLiteral("cmake"),
                                   {"--install", VIDMORPH_BUILD_DIR, "--prefix", m_prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.out));
    // Something for the completion to offer as files and folders.
    QVERIFY(QDir(m_work.path()).mkpath(QStringLiteral("completion/out dir")));
    QFile clip(m_work.filePath(QStringLiteral("completion/clip one.mp4")));
    QVERIFY(clip.open(QIODevice::WriteOnly));
    m_rootError = QStringLiteral("debianPackage did not run");
}

void TestInstall::cleanupTestCase()
{
    // The unpacked package goes with the test; nothing of it was installed on the system.
    if (!m_root.isEmpty()) {
        QVERIFY(QDir(m_root).removeRecursively());
        QVERIFY(!QFileInfo::exists(m_root));
    }
}

void TestInstall::layout_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");
    QTest::newRow("program") << "lib/vidmorph/vidmorph" << true;
    QTest::newRow("conv") << "lib/vidmorph/data/conv" << true;
    QTest::newRow("coder") << "lib/vidmorph/data/coder" << true;
    QTest::newRow("coder2") << "lib/vidmorph/data/coder2" << true;
    QTest::newRow("skin") << "lib/vidmorph/skin/vidmorph.qss" << false;
    QTest::newRow("sound") << "lib/vidmorph/sound.wav" << false;
    QTest::newRow("help") << "lib/vidmorph/help.html" << false;
    QTest::newRow("marker") << "lib/vidmorph/installed" << false;
    QTest::newRow("desktop entry") << "share/applications/vidmorph.desktop" << false;
    QTest::newRow("icon") << "share/icons/hicolor/scalable/apps/vidmorph.svg" << false;
    QTest::newRow("metainfo") << "share/metainfo/io.github.vidmorph.Vidmorph.metainfo.xml" << false;
    QTest::newRow("manual page") << "share/man/man1/vidmorph.1.gz" << false;
    QTest::newRow("completion") << "share/bash-completion/completions/vidmorph" << false;
    QTest::newRow("zsh completion") << "share/zsh/vendor-completions/_vidmorph" << false;
    QTest::newRow("fish completion") << "share/fish/vendor_completions.d/vidmorph.fish" << false;
    QTest::newRow("watch unit") << "lib/systemd/user/vidmorph-watch@.service" << false;
    QTest::newRow("watch settings example") << "share/doc/vidmorph/watch.conf.example" << false;
    QTest::newRow("copyright") << "share/doc/vidmorph/copyright" << false;
    QTest::newRow("changelog") << "share/doc/vidmorph/changelog.Debian.gz" << false;
}

void TestInstall::layout()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    const QFileInfo info(m_prefix.filePath(path));
    QVERIFY2(info.isFile(), qPrintable(path));
    QVERIFY(info.size() > 0);
    QCOMPARE(info.isExecutable(), executable);
    // The command on the path is a relative link into the application folder.
    const QFileInfo link(m_prefix.filePath(QStringLiteral("bin/vidmorph")));
    QVERIFY(link.isSymLink());
    QCOMPARE(QFile::symLinkTarget(link.filePath()),
             m_prefix.filePath(QStringLiteral("lib/vidmorph/vidmorph")));
}

void TestInstall::pngIcons_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%dx%d", size, size) << size;
}

void TestInstall::pngIcons()
{
    QFETCH(int, size);
    const QImage icon(
        m_prefix.filePath(QStringLiteral("share/icons/hicolor/%1x%1/apps/vidmorph.png").arg(size)));
    QCOMPARE(icon.size(), QSize(size, size));
    // The picture itself, not an empty canvas: the rounded square fills the middle, the
    // corners stay clear.
    QVERIFY(qAlpha(icon.pixel(size / 2, size / 2)) == 255);
    QVERIFY(qAlpha(icon.pixel(0, 0)) == 0);
}

void TestInstall::settingsFolder_data()
{
    QTest::addColumn<bool>("marker");
    QTest::addColumn<bool>("overridden");
    QTest::addColumn<bool>("inXdg");
    QTest::newRow("portable copy") << false << false << false;
    QTest::newRow("installed copy") << true << false << true;
    QTest::newRow("installed copy, override") << true << true << false;
}

void TestInstall::settingsFolder()
{
    QFETCH(bool, marker);
    QFETCH(bool, overridden);
    QFETCH(bool, inXdg);
    QTemporaryDir app;
    if (marker)
        QVERIFY(QFile::copy(m_prefix.filePath(QStringLiteral("lib/vidmorph/installed")),
                            app.filePath(QStringLiteral("installed"))));
    const QString override = m_work.filePath(QStringLiteral("override"));
    if (overridden)
        qputenv("VIDMORPH_SETTINGS_DIR", override.toUtf8());
    const Locations places = Locations::standard(app.path());
    qunsetenv("VIDMORPH_SETTINGS_DIR");
    // The folder is writable in every case, as an installed folder is for root.
    QVERIFY(QFileInfo(app.path()).isWritable());
    const QString xdg = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                        QStringLiteral("/vidmorph");
    QCOMPARE(places.settingsFolder, inXdg ? xdg : overridden ? override : app.path());
    // The real installed folder follows the installed rule.
    QCOMPARE(Locations::standard(m_prefix.filePath(QStringLiteral("lib/vidmorph"))).settingsFolder,
             xdg);
}

void TestInstall::installedCopyConverts()
{
    const QString clip = m_work.filePath(QStringLiteral("in clip.mp4"));
    QCOMPARE(TestMedia::make(clip, QSize(160, 120), 1.0, 2), QString());
    const QStringList before = prefixFiles();
    const Result run =
        runTool(m_prefix.filePath(QStringLiteral("bin/vidmorph")),
                {"--convert", "--format", "AVI", "--output", "converted", clip}, m_work.path());
    QVERIFY2(run.exitCode == 0, qPrintable(run.out));
    QVERIFY2(run.out.contains(QStringLiteral("成功 (converted): 1   失败 (failed): 0")),
             qPrintable(run.out));
    const QStringList outputs =
        QDir(m_work.filePath(QStringLiteral("converted"))).entryList(QDir::Files);
    QCOMPARE(outputs.size(), 1);
    const QString out = m_work.filePath(QStringLiteral("converted/") + outputs.first());
    const TestMedia::Info info = TestMedia::probe(out);
    QCOMPARE(info.container, QStringLiteral("avi"));
    QCOMPARE(info.size, QSize(160, 120));
    QCOMPARE(TestMedia::decodeErrors(out), QString());
    const QRegularExpressionMatch logLine =
        QRegularExpression(QStringLiteral("详细记录 \\(log\\): (.+)\n")).match(run.out);
    // The installed tools did the work: the log names their commands.
    QVERIFY(logLine.hasMatch());
    QFile log(logLine.captured(1));
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
    QVERIFY(QString::fromUtf8(log.readAll())
                .contains(m_prefix.filePath(QStringLiteral("lib/vidmorph/data/conv "))));
    // Nothing was written into the prefix: no settings, no output, no scratch files.
    QCOMPARE(prefixFiles(), before);
}

void TestInstall::desktopEntryIsValid()
{
    const QString entry = m_prefix.filePath(QStringLiteral("share/applications/vidmorph.desktop"));
    const Result validate = runTool(QStringLiteral("desktop-file-validate"), {entry});
    QCOMPARE(validate.exitCode, 0);
    QCOMPARE(validate.out, QString());
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QVERIFY(lines.contains(QStringLiteral("Exec=vidmorph %F")));
    QVERIFY(lines.contains(QStringLiteral("Icon=vidmorph")));
    QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QString &line) {
        return line.startsWith(QStringLiteral("Name[zh_CN]=")) && line.size() > 12;
    }));
    const QStringList mime = lines.filter(QStringLiteral("MimeType="));
    QCOMPARE(mime.size(), 1);
    QVERIFY(mime.first().contains(QStringLiteral("video/mp4;")));
    for (const char *type : {"audio/mpeg;", "audio/x-matroska;", "audio/x-aiff;",
                             "audio/x-wavpack;", "audio/ac3;", "audio/x-opus+ogg;"})
        QVERIFY2(mime.first().contains(QLatin1String(type)), type);
}

void TestInstall::appstreamMetadataIsValid()
{
    if (!haveTool(QStringLiteral("appstreamcli")))
        QSKIP("appstreamcli is not installed (package appstream)");
    const QString metainfo = m_prefix.filePath(
        QStringLiteral("share/metainfo/io.github.vidmorph.Vidmorph.metainfo.xml"));
    const Result validate =
        runTool(QStringLiteral("appstreamcli"), {"validate", "--no-net", "--no-color", metainfo});
    QVERIFY2(validate.exitCode == 0, qPrintable(validate.out));
    // Neither errors nor warnings; remarks (I:, P:) may stand.
    QVERIFY2(!QRegularExpression(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption)
                  .match(validate.out)
                  .hasMatch(),
             qPrintable(validate.out));

    QFile file(metainfo);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    // The entry it describes is the one installed beside it.
    QVERIFY(text.contains(
        QStringLiteral("<launchable type=\"desktop-id\">vidmorph.desktop</launchable>")));
    QVERIFY(QFileInfo(m_prefix.filePath(QStringLiteral("share/applications/vidmorph.desktop")))
                .isFile());
    QVERIFY(text.contains(QStringLiteral("<project_license>GPL-3.0-or-later</project_license>")));
    for (const char *element : {"name", "summary", "p"})
        QVERIFY2(text.contains(QStringLiteral("<%1 xml:lang=\"zh_CN\">").arg(element)), element);
    // Software centres offer it for the very types the desktop entry opens.
    QFile entry(m_prefix.filePath(QStringLiteral("share/applications/vidmorph.desktop")));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString types = QString::fromUtf8(entry.readAll())
                              .section(QStringLiteral("MimeType="), 1)
                              .section('\n', 0, 0);
    QVERIFY(!types.isEmpty());
    for (const QString &type : types.split(';', Qt::SkipEmptyParts))
        QVERIFY2(text.contains(QStringLiteral("<mediatype>%1</mediatype>").arg(type)),
                 qPrintable(type));
}

void TestInstall::manualPageHasNoWarnings()
{
    if (!haveTool(QStringLiteral("man")))
        QSKIP("man is not installed (packages man-db and groff-base)");
    // As lintian checks a manual page: every warning of the formatter counts.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("MANROFFSEQ"), QString());
    environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    const Result man =
        runTool(QStringLiteral("man"),
                {"--warnings", "-E", "UTF-8", "-l", PackagingDir + QStringLiteral("/vidmorph.1")},
                QString(), true, environment);
    QCOMPARE(man.exitCode, 0);
    QCOMPARE(man.err, QString());
    for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS",
                                "FILES", "ENVIRONMENT", "EXAMPLES", "SEE ALSO"})
        QVERIFY2(man.out.contains(QLatin1Char('\n') + QLatin1String(section) + QLatin1Char('\n')),
                 section);
}

void TestInstall::optionsAreDocumentedAndCompleted_data()
{
    QTest::addColumn<QString>("option");
    for (const QString &option : Options)
        QTest::newRow(qPrintable(option)) << option;
}

void TestInstall::optionsAreDocumentedAndCompleted()
{
    QFETCH(QString, option);
    if (!haveTool(QStringLiteral("man")))
        QSKIP("man is not installed (packages man-db and groff-base)");
    static const QString manual = manualText();
    QVERIFY(!manual.isEmpty());
    // An item of OPTIONS begins with the option, alone or as "-f, --format".
    const QRegularExpression item(
        QStringLiteral("\n {7}(-[a-z0-9], )?%1[ ,\n]").arg(QRegularExpression::escape(option)));
    QVERIFY2(item.match(manual).hasMatch(), qPrintable(option));
    // Typing all of it but its last letter offers it.
    QVERIFY2(complete({QStringLiteral("vidmorph"), option.chopped(1)}).contains(option),
             qPrintable(complete({QStringLiteral("vidmorph"), option.chopped(1)}).join(' ')));
    // zsh and fish name it too, each in its own way.
    const bool shortName = !option.startsWith(QStringLiteral("--"));
    const auto text = [](const QString &path) {
        QFile file(PackagingDir + QLatin1Char('/') + path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QVERIFY2(
        QRegularExpression(
            // '*' before the name: it may be given more than once.
            QStringLiteral("[{,'(*]%1[+=-]{0,2}[\\[,}']").arg(QRegularExpression::escape(option)))
            .match(text(QStringLiteral("vidmorph.zsh-completion")))
            .hasMatch(),
        qPrintable(option));
    QVERIFY2(text(QStringLiteral("vidmorph.fish"))
                 .contains(QStringLiteral(" -%1 %2 ")
                               .arg(shortName ? QStringLiteral("s") : QStringLiteral("l"),
                                    option.mid(shortName ? 1 : 2))),
             qPrintable(option));
}

void TestInstall::environmentAndCodesAreDocumented_data()
{
    // Every variable of ours the program reads, as its sources spell it, and every reason code
    // a failure can carry.
    QTest::addColumn<QString>("name");
    QStringList names;
    const QRegularExpression variable(QStringLiteral("\"(VIDMORPH_[A-Z_]+)\""));
    for (const char *folder : {"app", "convert", "process", "headless", "tools"}) {
        QDirIterator it(QStringLiteral(VIDMORPH_SOURCE_DIR "/") + QLatin1String(folder),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile source(it.next());
            if (!source.open(QIODevice::ReadOnly))
                continue;
            for (auto match = variable.globalMatch(QString::fromUtf8(source.readAll()));
                 match.hasNext();)
                names.append(match.next().captured(1));
        }
    }
    names.removeDuplicates();
    QVERIFY(names.contains(QStringLiteral("VIDMORPH_VAAPI_DEVICE")));
    for (const QString &name : std::as_const(names))
        QTest::newRow(qPrintable(name)) << name;
    for (const QString &code : FailureReason::codes())
        QTest::newRow(qPrintable(QStringLiteral("code ") + code)) << code;
}

void TestInstall::environmentAndCodesAreDocumented()
{
    QFETCH(QString, name);
    if (!haveTool(QStringLiteral("man")))
        QSKIP("man is not installed (packages man-db and groff-base)");
    static const QString manual = manualText();
    QVERIFY(!manual.isEmpty());
    // An item of ENVIRONMENT, or of the reason codes, begins with it.
    QVERIFY2(QRegularExpression(
                 QStringLiteral("\n {7}(\\S+, )*%1[,\n]").arg(QRegularExpression::escape(name)))
                 .match(manual)
                 .hasMatch(),
             qPrintable(name));
}

void TestInstall::watchUnitRunsAWatch()
{
    // The unit's command, with a settings file's values put in as systemd puts them: ${NAME}
    // as one word, $NAME split at blanks.
    QFile unit(m_prefix.filePath(QStringLiteral("lib/systemd/user/vidmorph-watch@.service")));
    QVERIFY(unit.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(unit.readAll());
    const QRegularExpressionMatch exec =
        QRegularExpression(QStringLiteral("^ExecStart=(.+)$"), QRegularExpression::MultilineOption)
            .match(text);
    QVERIFY(exec.hasMatch());
    QVERIFY(text.contains(QStringLiteral("\nKillMode=mixed\n")));
    const QRegularExpressionMatch success =
        QRegularExpression(QStringLiteral("^SuccessExitStatus=(.+)$"),
                           QRegularExpression::MultilineOption)
            .match(text);
    QVERIFY(success.hasMatch());
    const QString watched = m_work.filePath(QStringLiteral("watched folder"));
    const QString converted = m_work.filePath(QStringLiteral("watched output"));
    QVERIFY(QDir().mkpath(watched));
    const QMap<QString, QString> settings = {{"WATCH", watched},
                                             {"OUTPUT", converted},
                                             {"FORMAT", "MP3"},
                                             {"OPTIONS", "--name plain --settle 1"}};
    QStringList words;
    for (const QString &word : exec.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word.startsWith(QStringLiteral("${")))
            words.append(settings.value(word.mid(2).chopped(1)));
        else if (word.startsWith(QLatin1Char('$')))
            words += settings.value(word.mid(1)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        else
            words.append(word);
    }
    QCOMPARE(words.first(), m_prefix.filePath(QStringLiteral("bin/vidmorph")));
    QProcess watch;
    watch.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    watch.start(words.first(), words.mid(1));
    QVERIFY(watch.waitForStarted());
    QCOMPARE(TestMedia::make(watched + QStringLiteral("/.clip.mp4"), QSize(96, 64), 1.0, 1),
             QString());
    QVERIFY(QFile::rename(watched + QStringLiteral("/.clip.mp4"),
                          watched + QStringLiteral("/clip.mp4")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(converted + QStringLiteral("/clip.mp3")).size() > 0, 120000);
    // systemd's stop: SIGTERM to the program alone; its status counts as success.
    ::kill(pid_t(watch.processId()), SIGTERM);
    QVERIFY(watch.waitForFinished(60000));
    QVERIFY2(
        watch.exitCode() == 0 ||
            success.captured(1).split(QLatin1Char(' ')).contains(QString::number(watch.exitCode())),
        qPrintable(QString::number(watch.exitCode())));
}

void TestInstall::completion_data()
{
    QTest::addColumn<QStringList>("words"); // the command line, the last word being completed
    QTest::addColumn<QStringList>("offered");

    QStringList formats = Formats;
    formats.sort();
    QTest::newRow("--fo") << QStringList{"vidmorph", "--fo"} << QStringList{"--format"};
    QTest::newRow("--qui") << QStringList{"vidmorph", "--convert", "--qui"}
                           << QStringList{"--quiet"};
    QTest::newRow("--q") << QStringList{"vidmorph", "--convert", "--q"}
                         << QStringList{"--quality", "--quiet"};
    QTest::newRow("--quality, nothing typed")
        << QStringList{"vidmorph", "--convert", "--quality", ""} << QStringList{"auto"};
    QTest::newRow("--format, nothing typed")
        << QStringList{"vidmorph", "--convert", "--format", ""} << formats;
    QTest::newRow("-f, lower case") << QStringList{"vidmorph", "--convert", "-f", "mp"}
                                    << QStringList{"MP3", "MP4", "MPEG4", "MPG"};
    QTest::newRow("--format=h2") << QStringList{"vidmorph", "--format", "=", "h2"}
                                 << QStringList{"H264", "H265"};
    QTest::newRow("--progress") << QStringList{"vidmorph", "--convert", "--progress", ""}
                                << QStringList{"json", "text"};
    QTest::newRow("--frame-rate") << QStringList{"vidmorph", "--convert", "--frame-rate", "k"}
                                  << QStringList{"keep"};
    QTest::newRow("a number is the user's")
        << QStringList{"vidmorph", "--convert", "-j", ""} << QStringList{};
    QTest::newRow("--output offers folders only")
        << QStringList{"vidmorph", "--convert", "--output", ""} << QStringList{"out dir"};
    QTest::newRow("inputs are files and folders")
        << QStringList{"vidmorph", "--convert", "-f", "MP3", ""}
        << QStringList{"clip one.mp4", "out dir"};
    QTest::newRow("after -- a dash starts a file name")
        << QStringList{"vidmorph", "--", "--f"} << QStringList{};
}

void TestInstall::completion()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);
    QCOMPARE(complete(words), offered);
}

void TestInstall::compressedLikeDebian_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QString>("source");
    QTest::newRow("manual page") << "share/man/man1/vidmorph.1.gz"
                                 << "vidmorph.1";
    QTest::newRow("changelog") << "share/doc/vidmorph/changelog.Debian.gz"
                               << "changelog";
}

void TestInstall::compressedLikeDebian()
{
    QFETCH(QString, installed);
    QFETCH(QString, source);
    QFile file(m_prefix.filePath(installed));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(10);
    QCOMPARE(header.size(), 10);
    QCOMPARE(header.left(3), QByteArray("\x1f\x8b\x08"));
    // gzip -9n: no file name (FNAME) and no time stamp in the header, best compression.
    QCOMPARE(header[3] & 0x08, 0);
    QCOMPARE(header.mid(4, 4), QByteArray(4, '\0'));
    QCOMPARE(int(header[8]), 2);
    const Result unpacked =
        runTool(QStringLiteral("gzip"), {"-dc", file.fileName()}, QString(), true);
    QCOMPARE(unpacked.exitCode, 0);
    QFile original(PackagingDir + QLatin1Char('/') + source);
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(unpacked.out, QString::fromUtf8(original.readAll()));
}

void TestInstall::debianPackage()
{
    m_rootError = QStringLiteral("debianPackage failed");
    const Result cpack = runTool(QStringLiteral("cpack"),
                                 {"-G", "DEB", "--config", VIDMORPH_BUILD_DIR "/CPackConfig.cmake",
                                  "-B", m_packages.path()});
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.out));
    const QStringList debs = QDir(m_packages.path()).entryList({QStringLiteral("*.deb")});
    QCOMPARE(debs.size(), 1);
    m_deb = m_packages.filePath(debs.first());

    // The version is the newest entry of the Debian changelog.
    QFile changelog(PackagingDir + QStringLiteral("/changelog"));
    QVERIFY(changelog.open(QIODevice::ReadOnly));
    const QRegularExpressionMatch newest =
        QRegularExpression(QStringLiteral("^vidmorph \\(([^)]+)\\) ")).match(changelog.readLine());
    QVERIFY(newest.hasMatch());
    QCOMPARE(QFileInfo(m_deb).fileName(),
             QStringLiteral("vidmorph_%1_amd64.deb").arg(newest.captured(1)));

    const Result fields = runTool(QStringLiteral("dpkg-deb"),
                                  {"-f", m_deb, "Package", "Version", "Section", "Depends"});
    QCOMPARE(fields.exitCode, 0);
    QVERIFY2(fields.out.contains(QStringLiteral("Package: vidmorph\n")), qPrintable(fields.out));
    QVERIFY(fields.out.contains(QStringLiteral("Version: ") + newest.captured(1) + '\n'));
    QVERIFY(fields.out.contains(QStringLiteral("Section: video\n")));
    // Linked libraries (from dpkg-shlibdeps, with versions) and what is needed unlinked.
    for (const char *needed :
         {"libqt6widgets6 (>=", "libqt6multimedia6 (>=", "libqt6network6 (>=", "libqt6dbus6 (>=",
          "libc6 (>=", "libopencore-amrnb0", "libqt6svg6", "ffmpeg", "xdg-utils",
          "fonts-wqy-microhei | fonts-noto-cjk", "qt6-translations-l10n"})
        QVERIFY2(fields.out.contains(QLatin1String(needed)), needed);

    const Result contents = runTool(QStringLiteral("dpkg-deb"), {"-c", m_deb});
    QCOMPARE(contents.exitCode, 0);
    for (const char *path :
         {" ./usr/lib/vidmorph/vidmorph\n", " ./usr/lib/vidmorph/data/conv\n",
          " ./usr/lib/vidmorph/data/coder\n", " ./usr/lib/vidmorph/data/coder2\n",
          " ./usr/lib/vidmorph/installed\n", " ./usr/lib/vidmorph/skin/vidmorph.qss\n",
          " ./usr/lib/vidmorph/sound.wav\n", " ./usr/lib/vidmorph/help.html\n",
          " ./usr/bin/vidmorph -> ../lib/vidmorph/vidmorph\n",
          " ./usr/share/applications/vidmorph.desktop\n",
          " ./usr/share/metainfo/io.github.vidmorph.Vidmorph.metainfo.xml\n",
          " ./usr/share/icons/hicolor/scalable/apps/vidmorph.svg\n",
          " ./usr/share/icons/hicolor/48x48/apps/vidmorph.png\n",
          " ./usr/share/man/man1/vidmorph.1.gz\n",
          " ./usr/share/bash-completion/completions/vidmorph\n",
          " ./usr/share/doc/vidmorph/copyright\n",
          " ./usr/share/doc/vidmorph/changelog.Debian.gz\n"})
        QVERIFY2(contents.out.contains(QLatin1String(path)), path);
    // Only the program's own files: no tests, no build leftovers.
    QVERIFY(!contents.out.contains(QStringLiteral("test")));

    // Unpacked into a root of its own, never installed on the system.
    m_root = m_packages.filePath(QStringLiteral("root"));
    const Result unpack = runTool(QStringLiteral("dpkg"), {"-x", m_deb, m_root});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.out));
    m_rootError.clear();

    // The copyright file in Debian's machine-readable format, under the licence of LICENSE.
    QFile copyright(m_root + QStringLiteral("/usr/share/doc/vidmorph/copyright"));
    QVERIFY(copyright.open(QIODevice::ReadOnly));
    const QString copyrightText = QString::fromUtf8(copyright.readAll());
    QVERIFY(copyrightText.startsWith(QStringLiteral(
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")));
    QVERIFY(copyrightText.contains(QStringLiteral("\nFiles: *\n")));
    QVERIFY(copyrightText.contains(QStringLiteral("\nLicense: GPL-3+\n")));
    QVERIFY(copyrightText.contains(QStringLiteral("/usr/share/common-licenses/GPL-3")));
    QFile license(QStringLiteral(VIDMORPH_SOURCE_DIR "/LICENSE"));
    QVERIFY(license.open(QIODevice::ReadOnly));
    const QByteArray licenseText = license.readAll();
    QVERIFY(licenseText.contains(
        "GNU GENERAL PUBLIC LICENSE\n                       Version 3, 29 June 2007"));
    QFile common(QStringLiteral("/usr/share/common-licenses/GPL-3"));
    if (common.open(QIODevice::ReadOnly))
        QCOMPARE(licenseText, common.readAll());
}

void TestInstall::packagedBinariesAreHardened_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("vidmorph") << "usr/lib/vidmorph/vidmorph";
    QTest::newRow("conv") << "usr/lib/vidmorph/data/conv";
    QTest::newRow("coder") << "usr/lib/vidmorph/data/coder";
    QTest::newRow("coder2") << "usr/lib/vidmorph/data/coder2";
}

void TestInstall::packagedBinariesAreHardened()
{
    QFETCH(QString, path);
    needPackage();
    const QString binary = m_root + QLatin1Char('/') + path;

    // Stripped: no symbol table and no debugging sections.
    const Result sections = runTool(QStringLiteral("readelf"), {"-S", "-W", binary});
    QCOMPARE(sections.exitCode, 0);
    QVERIFY(sections.out.contains(QStringLiteral(".dynsym")));
    QVERIFY2(!sections.out.contains(QStringLiteral(" .symtab ")), qPrintable(sections.out));
    QVERIFY2(!sections.out.contains(QStringLiteral(" .debug_")), qPrintable(sections.out));

    if (!haveTool(QStringLiteral("hardening-check")))
        QSKIP("hardening-check is not installed (package devscripts)");
    // PIE, stack protector, fortified functions, RELRO and immediate binding, as the flags of
    // dpkg-buildflags give them. Control-flow protection is not among them on Debian 12. An
    // unoptimised build cannot fortify (glibc needs optimisation for it).
    QStringList arguments = {"--nocfprotection"};
    if (QStringLiteral(VIDMORPH_BUILD_TYPE) == QLatin1String("Debug"))
        arguments.append(QStringLiteral("--nofortify"));
    const Result check =
        runTool(QStringLiteral("hardening-check"), arguments + QStringList{binary});
    QVERIFY2(check.exitCode == 0, qPrintable(check.out));
    for (const char *line : {"Position Independent Executable: yes", "Stack protected: yes",
                             "Read-only relocations: yes", "Immediate binding: yes"})
        QVERIFY2(check.out.contains(QLatin1String(line)), qPrintable(check.out));
}

void TestInstall::packagedCopyConverts()
{
    needPackage();
    const QString clip = m_work.filePath(QStringLiteral("clip.mp4"));
    QCOMPARE(TestMedia::make(clip, QSize(160, 120), 1.0, 2), QString());
    const Result run =
        runTool(m_root + QStringLiteral("/usr/bin/vidmorph"),
                {"--convert", "--format", "MP3", "-o", "packaged", clip}, m_work.path());
    QVERIFY2(run.exitCode == 0, qPrintable(run.out));
    const QStringList outputs =
        QDir(m_work.filePath(QStringLiteral("packaged"))).entryList(QDir::Files);
    QCOMPARE(outputs.size(), 1);
    const QString out = m_work.filePath(QStringLiteral("packaged/") + outputs.first());
    QVERIFY2(out.endsWith(QStringLiteral(".mp3")), qPrintable(out));
    const TestMedia::Info info = TestMedia::probe(out);
    QCOMPARE(info.container, QStringLiteral("mp3"));
    QCOMPARE(info.audioCodec, QStringLiteral("mp3"));
    QCOMPARE(TestMedia::decodeErrors(out), QString());
    // The packaged tools did the work: the batch log names them by their unpacked path.
    const QRegularExpressionMatch logLine =
        QRegularExpression(QStringLiteral("详细记录 \\(log\\): (.+)\n")).match(run.out);
    QVERIFY2(logLine.hasMatch(), qPrintable(run.out));
    QFile log(logLine.captured(1));
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
    QVERIFY(QString::fromUtf8(log.readAll())
                .contains(m_root + QStringLiteral("/usr/lib/vidmorph/data/")));
}

void TestInstall::packagedWindowOpensAndCloses()
{
    needPackage();
    for (const char *tool : {"xvfb-run", "openbox", "xdotool", "xwininfo"}) {
        if (!haveTool(QLatin1String(tool)))
            QSKIP(qPrintable(QStringLiteral("%1 is not installed: no display to open the window on")
                                 .arg(QLatin1String(tool))));
    }
    // A real display and window manager, since a window can only be closed from outside the
    // program through one: the window must appear, and closing it must end the program with 0.
    const Result run =
        runTool(QStringLiteral(VIDMORPH_SOURCE_DIR "/tests/packaging/open-and-close.sh"),
                {m_root + QStringLiteral("/usr/bin/vidmorph")});
    QVERIFY2(run.exitCode == 0,
             qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.out)));
    QVERIFY2(run.out.contains(QStringLiteral("window ")), qPrintable(run.out));
}

void TestInstall::lintianFindsNoError()
{
    needPackage();
    if (!haveTool(QStringLiteral("lintian")))
        QSKIP("lintian is not installed");
    const Result lintian =
        runTool(QStringLiteral("lintian"), {"--no-tag-display-limit", m_deb}, QString(), true);
    QVERIFY2(lintian.exitCode == 0 || lintian.exitCode == 1, qPrintable(lintian.err));
    QStringList unexplained;
    for (const QString &line : lintian.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch tag =
            QRegularExpression(QStringLiteral("^([A-Z]): vidmorph[^:]*: (\\S+)")).match(line);
        QVERIFY2(tag.hasMatch(), qPrintable(line));
        if (tag.captured(1) == QLatin1String("E") ||
            (tag.captured(1) == QLatin1String("W") &&
             !ExplainedLintianWarnings.contains(tag.captured(2))))
            unexplained.append(line);
    }
    QVERIFY2(unexplained.isEmpty(), qPrintable(unexplained.join('\n')));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
