#include "TestMedia.h"
#include "convert/Locations.h"

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

// `cmake --install` into a prefix of its own, the installed program at work, its desktop entry,
// and the Debian package that CPack makes from the same rules.
class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void layout_data();
    void layout();
    void pngIcons_data();
    void pngIcons();
    void settingsFolder_data();
    void settingsFolder();
    void installedCopyConverts();
    void desktopEntryIsValid();
    void debianPackage();

private:
    struct Result
    {
        int exitCode = -1;
        QString out;
    };
    static Result runTool(const QString &program, const QStringList &arguments,
                          const QString &folder = QString());
    QStringList prefixFiles() const;

    QTemporaryDir m_prefix;
    QTemporaryDir m_work;
};

TestInstall::Result TestInstall::runTool(const QString &program, const QStringList &arguments,
                                         const QString &folder)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(600000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.out = QString::fromUtf8(process.readAll());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
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
    QVERIFY(mime.first().contains(QStringLiteral("audio/mpeg;")));
}

void TestInstall::debianPackage()
{
    QTemporaryDir packages;
    const Result cpack = runTool(
        QStringLiteral("cpack"),
        {"-G", "DEB", "--config", VIDMORPH_BUILD_DIR "/CPackConfig.cmake", "-B", packages.path()});
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.out));
    const QStringList debs = QDir(packages.path()).entryList({QStringLiteral("*.deb")});
    QCOMPARE(debs.size(), 1);
    const QString deb = packages.filePath(debs.first());

    const Result fields =
        runTool(QStringLiteral("dpkg-deb"), {"-f", deb, "Package", "Section", "Depends"});
    QCOMPARE(fields.exitCode, 0);
    QVERIFY2(fields.out.contains(QStringLiteral("Package: vidmorph\n")), qPrintable(fields.out));
    QVERIFY(fields.out.contains(QStringLiteral("Section: video\n")));
    for (const char *needed : {"libqt6widgets6", "libqt6multimedia6", "libqt6svg6", "ffmpeg",
                               "libopencore-amrnb0", "fonts-wqy-microhei | fonts-noto-cjk"})
        QVERIFY2(fields.out.contains(QLatin1String(needed)), needed);

    const Result contents = runTool(QStringLiteral("dpkg-deb"), {"-c", deb});
    QCOMPARE(contents.exitCode, 0);
    for (const char *path :
         {" ./usr/lib/vidmorph/vidmorph\n", " ./usr/lib/vidmorph/data/conv\n",
          " ./usr/lib/vidmorph/data/coder\n", " ./usr/lib/vidmorph/data/coder2\n",
          " ./usr/lib/vidmorph/installed\n", " ./usr/lib/vidmorph/skin/vidmorph.qss\n",
          " ./usr/lib/vidmorph/sound.wav\n", " ./usr/lib/vidmorph/help.html\n",
          " ./usr/bin/vidmorph -> ../lib/vidmorph/vidmorph\n",
          " ./usr/share/applications/vidmorph.desktop\n",
          " ./usr/share/icons/hicolor/scalable/apps/vidmorph.svg\n",
          " ./usr/share/icons/hicolor/48x48/apps/vidmorph.png\n"})
        QVERIFY2(contents.out.contains(QLatin1String(path)), path);
    // Only the program's own files: no tests, no build leftovers.
    QVERIFY(!contents.out.contains(QStringLiteral("test")));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
