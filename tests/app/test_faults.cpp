#include "ProcessTable.h"
#include "TestMedia.h"
#include "WindowFixture.h"
#include "convert/BatchScheduler.h"
#include "convert/Formats.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include <sys/mount.h>
#include <unistd.h>

// Batches that meet trouble: a tool that hangs or is killed, a scratch folder that vanishes,
// no ffmpeg at all, and one batch of every kind of hostile input a user's disk can hold.
class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void hangingToolIsEndedAndReported();
    void hangingToolCanBeStopped();
    void toolKilledBySignal();
    void scratchFolderRemovedDuringBatch();
    void ffmpegMissingIsSaidAtStart();
    void hostileInputs();
    void unwritableOutputFolder();
    void nearlyFullFileSystem();

private:
    std::unique_ptr<frmMain> window(const QString &appFolder = QStringLiteral(VIDMORPH_APP_DIR));
    QString fakeApp(); // conv hangs for inputs named *hang*, kills itself for *killed*
    void run(frmMain &w);
    QStringList outputs(bool hidden = false) const;
    QString copyOf(const QString &source, const QString &path);
    QStringList reasonsFor(const frmMain &w, const QString &input) const;

    QTemporaryDir m_media;
    WindowFixture m_fixture;
    RecordingMessageSink &m_messages = m_fixture.messages;
    RecordingDesktopServices &m_desktop = m_fixture.desktop;
    QString m_clip;
    QString m_bigger;
};

void TestFaults::initTestCase()
{
    m_clip = m_media.filePath(QStringLiteral("clip.mp4"));
    m_bigger = m_media.filePath(QStringLiteral("bigger.mp4"));
    QCOMPARE(TestMedia::make(m_clip, QSize(160, 120), 1.0, 2), QString());
    QCOMPARE(TestMedia::make(m_bigger, QSize(320, 180), 2.0, 2), QString());
}

void TestFaults::init()
{
    m_fixture.reset();
}

std::unique_ptr<frmMain> TestFaults::window(const QString &appFolder)
{
    m_fixture.places.appFolder = appFolder;
    return m_fixture.loadForBatch(QStringLiteral("out"));
}

QString TestFaults::fakeApp()
{
    const QString app = m_fixture.path(QStringLiteral("fake app"));
    QDir().mkpath(app + QStringLiteral("/data"));
    QFile conv(app + QStringLiteral("/data/conv"));
    conv.open(QIODevice::WriteOnly);
    conv.write("#!/bin/sh\n"
               "case \"$1\" in\n"
               "  *hang*) exec sleep 1000 ;;\n"
               "  *killed*) kill -9 $$ ;;\n"
               "esac\n"
               "exec \"" VIDMORPH_APP_DIR "/data/conv\" \"$@\"\n");
    conv.close();
    conv.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char *tool : {"coder", "coder2"})
        QFile::link(QStringLiteral(VIDMORPH_APP_DIR "/data/") + QLatin1String(tool),
                    app + QStringLiteral("/data/") + QLatin1String(tool));
    return app;
}

void TestFaults::run(frmMain &w)
{
    QSignalSpy completed(w.scheduler(), &BatchScheduler::completed);
    QSignalSpy stopped(w.scheduler(), &BatchScheduler::stopped);
    w.imgStart_Click();
    QTRY_VERIFY_WITH_TIMEOUT(completed.count() + stopped.count() > 0, 240000);
}

QStringList TestFaults::outputs(bool hidden) const
{
    QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot;
    if (hidden)
        filters |= QDir::Hidden | QDir::Dirs;
    QStringList names = QDir(m_fixture.path(QStringLiteral("out"))).entryList(filters);
    names.sort();
    return names;
}

QString TestFaults::copyOf(const QString &source, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::copy(source, path);
    return path;
}

QStringList TestFaults::reasonsFor(const frmMain &w, const QString &input) const
{
    QStringList reasons;
    for (const BatchScheduler::Failure &failure : w.scheduler()->failures())
        if (failure.inputPath == input)
            reasons.append(failure.reason);
    return reasons;
}

void TestFaults::hangingToolIsEndedAndReported()
{
    auto w = window(fakeApp());
    // Long enough for a good file's tool to print its first line on a loaded machine.
    w->scheduler()->setStallTimeout(5000);
    w->cmbOF->setCurrentIndex(Formats::MPG);
    const QString hang = copyOf(m_clip, m_fixture.path(QStringLiteral("in/hang.mp4")));
    w->appendFiles({hang, m_clip});
    run(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(reasonsFor(*w, hang), QStringList{QStringLiteral("编码程序停止响应")});
    QCOMPARE(w->scheduler()->filesConverted(), 1);
    QCOMPARE(outputs().size(), 1);
    QCOMPARE(processesMentioning({QStringLiteral("sleep 1000"), hang}), QStringList());
}

void TestFaults::hangingToolCanBeStopped()
{
    auto w = window(fakeApp());
    w->cmbOF->setCurrentIndex(Formats::MPG);
    const QString hang = copyOf(m_clip, m_fixture.path(QStringLiteral("in/hang.mp4")));
    w->appendFiles({hang});
    QSignalSpy stopped(w->scheduler(), &BatchScheduler::stopped);
    QSignalSpy started(w->scheduler(), &BatchScheduler::toolStarted);
    w->Command3->click();
    QVERIFY(started.wait(20000));
    QTest::qWait(200);
    w->Command3->click();
    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
    QCOMPARE(w->files()->count(), 1);
    QVERIFY(w->cmbOF->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(processesMentioning({QStringLiteral("sleep 1000")}), QStringList(),
                              5000);
}

void TestFaults::toolKilledBySignal()
{
    auto w = window(fakeApp());
    w->cmbOF->setCurrentIndex(Formats::RMVB);
    const QString killed = copyOf(m_clip, m_fixture.path(QStringLiteral("in/killed.mp4")));
    w->appendFiles({killed, m_clip});
    run(*w);
    QCOMPARE(reasonsFor(*w, killed), QStringList{QStringLiteral("转换程序意外终止")});
    QCOMPARE(w->scheduler()->filesConverted(), 1);
    QCOMPARE(outputs().size(), 1);
    QVERIFY(outputs().first().endsWith(QLatin1String(".rmvb")));
}

void TestFaults::scratchFolderRemovedDuringBatch()
{
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::ThreeGP);
    w->appendFiles({m_clip, m_bigger});
    const QString scratch = m_fixture.path(QStringLiteral("scratch"));
    connect(w->scheduler(), &BatchScheduler::fileFinished, this,
            [&] { QDir(scratch).removeRecursively(); });
    run(*w);
    QCOMPARE(w->scheduler()->failures().size(), 0);
    QCOMPARE(outputs().size(), 2);
    for (const QString &name : outputs())
        QCOMPARE(TestMedia::decodeErrors(m_fixture.path(QStringLiteral("out/")) + name), QString());
}

void TestFaults::ffmpegMissingIsSaidAtStart()
{
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", m_fixture.path().toUtf8());
    auto w = window();
    w->appendFiles({m_clip});
    w->imgStart_Click();
    qputenv("PATH", path);
    QCOMPARE(m_messages.messages.size(), 1);
    QVERIFY2(m_messages.messages[0].text.contains(QStringLiteral("找不到 ffmpeg")),
             qPrintable(m_messages.messages[0].text));
    QVERIFY(!w->scheduler()->isBusy());
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(w->cmbOF->isEnabled());
    QCOMPARE(w->files()->count(), 1);
}

void TestFaults::hostileInputs()
{
    const QString in = m_fixture.path(QStringLiteral("in"));
    QDir().mkpath(in);
    auto write = [&](const QString &name, const QByteArray &content) {
        QFile file(in + QLatin1Char('/') + name);
        file.open(QIODevice::WriteOnly);
        file.write(content);
        return file.fileName();
    };
    QFile bigger(m_bigger);
    QVERIFY(bigger.open(QIODevice::ReadOnly));
    const QByteArray whole = bigger.readAll();

    const QString zero = write(QStringLiteral("zero.mp4"), QByteArray());
    const QString truncated = write(QStringLiteral("truncated.mp4"), whole.left(whole.size() / 2));
    const QString text = write(QStringLiteral("text.mp4"), "only words, no pictures\n");
    const QString locked = copyOf(m_clip, in + QStringLiteral("/locked.mp4"));
    QFile::setPermissions(locked, QFileDevice::Permissions());
    const QString newline = copyOf(m_clip, in + QStringLiteral("/new\nline.mp4"));
    const QString dash = copyOf(m_clip, in + QStringLiteral("/-dash.mp4"));
    // 200 Chinese characters of path below the input folder; no file system takes that many
    // in one name (255 bytes), so they are spread over two folders and the file.
    const QString chinese =
        copyOf(m_clip, in + QLatin1Char('/') + QString(70, QChar(0x89C6)) + QLatin1Char('/') +
                           QString(70, QChar(0x9891)) + QLatin1Char('/') +
                           QString(60, QChar(0x7247)) + QStringLiteral(".mp4"));
    const QString folder = in + QStringLiteral("/folder.mp4");
    QDir().mkpath(folder);
    const QString deleted = copyOf(m_clip, in + QStringLiteral("/deleted.mp4"));
    const QString link = in + QStringLiteral("/link.mp4");
    QVERIFY(QFile::link(m_clip, link));

    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MPG);
    const QStringList all = {zero,    truncated, text,    locked, newline, dash,
                             chinese, folder,    deleted, link,   m_clip};
    w->appendFiles(all);
    QFile::remove(deleted);
    run(*w);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner);

    const bool root = geteuid() == 0; // root reads a file without read permission
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(w->files()->count(), 0);
    QCOMPARE(reasonsFor(*w, zero), QStringList{QStringLiteral("输入文件是空的（0 字节）")});
    // Cut in half, but with its index in front as downloads have it: what is there converts,
    // with a warning that says how much is missing.
    QCOMPARE(reasonsFor(*w, truncated), QStringList());
    QCOMPARE(w->scheduler()->warnings().size(), 1);
    QCOMPARE(w->scheduler()->warnings().first().inputPath, truncated);
    QVERIFY(reasonsFor(*w, text).first().contains(QStringLiteral("无法读取输入文件")));
    QCOMPARE(reasonsFor(*w, folder), QStringList{QStringLiteral("输入的不是文件")});
    QCOMPARE(reasonsFor(*w, deleted), QStringList{QStringLiteral("找不到输入文件")});
    if (!root)
        QCOMPARE(reasonsFor(*w, locked).size(), 1);
    for (const QString &good : {newline, dash, chinese, link, m_clip})
        QCOMPARE(reasonsFor(*w, good), QStringList());
    const int converted = root ? 7 : 6;
    QCOMPARE(w->scheduler()->filesConverted(), converted);
    // Only finished outputs are in the folder: no partial or temporary file.
    const QStringList names = outputs(true);
    QCOMPARE(names.size(), converted);
    for (const QString &name : names) {
        QVERIFY2(!name.startsWith(QLatin1Char('.')), qPrintable(name));
        QCOMPARE(TestMedia::decodeErrors(m_fixture.path(QStringLiteral("out/")) + name), QString());
    }
    QVERIFY(names.contains(QStringLiteral("-dash-"), Qt::CaseSensitive) ||
            std::any_of(names.begin(), names.end(),
                        [](const QString &n) { return n.startsWith(QLatin1String("-dash-")); }));
    QVERIFY(std::any_of(names.begin(), names.end(), [](const QString &n) {
        return n.startsWith(QLatin1String("new\nline-"));
    }));
    QCOMPARE(processesMentioning({in, m_fixture.path(QStringLiteral("out"))}), QStringList());
}

void TestFaults::unwritableOutputFolder()
{
    const QString out = m_fixture.path(QStringLiteral("out"));
    QDir().mkpath(out);
    // Root writes into any folder whatever its permissions; a read-only mount stops it too.
    const bool root = geteuid() == 0;
    if (root && mount("tmpfs", out.toUtf8().constData(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        QSKIP("needs permission to mount a read-only tmpfs when run as root");
    if (!root)
        QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner);
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip});
    run(*w);
    const QStringList left = outputs(true);
    if (root)
        umount(out.toUtf8().constData());
    else
        QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(w->scheduler()->filesConverted(), 0);
    QCOMPARE(reasonsFor(*w, m_clip).size(), 1);
    const QString reason = reasonsFor(*w, m_clip).first();
    QVERIFY2(reason == QStringLiteral("无法写入输出文件夹") ||
                 reason == QStringLiteral("输出位置是只读的"),
             qPrintable(reason));
    QCOMPARE(left, QStringList());
}

void TestFaults::nearlyFullFileSystem()
{
    const QString out = m_fixture.path(QStringLiteral("out"));
    QDir().mkpath(out);
    if (geteuid() != 0 || mount("tmpfs", out.toUtf8().constData(), "tmpfs", 0, "size=256k") != 0)
        QSKIP("needs root and permission to mount a small tmpfs");
    {
        QFile filler(out + QStringLiteral("/.filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(200 * 1024, 'x'));
    }
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MPG);
    const QString longer = m_media.filePath(QStringLiteral("long.mkv"));
    QCOMPARE(TestMedia::make(longer, QSize(320, 180), 4.0, 2), QString());
    w->appendFiles({longer});
    run(*w);
    const QStringList left =
        QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    umount(out.toUtf8().constData());
    QCOMPARE(reasonsFor(*w, longer), QStringList{QStringLiteral("磁盘空间不足")});
    QCOMPARE(left, QStringList{QStringLiteral(".filler")});
}

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
