#include "ProcessTable.h"
#include "RecordingHost.h"
#include "RecordingMessageSink.h"
#include "TestLocations.h"
#include "TestMedia.h"
#include "convert/BatchScheduler.h"
#include "convert/FileListModel.h"
#include "convert/Formats.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

#include <sys/mount.h>
#include <unistd.h>

// Batches of the real tools that meet trouble, without any window: a tool that hangs or is
// killed, a scratch folder that vanishes, an output folder that cannot be written or fills up,
// and one batch of every kind of hostile input a user's disk can hold.
class TestBatchFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void brokenToolEndsOnlyItsFile_data();
    void brokenToolEndsOnlyItsFile();
    void scratchFolderRemovedDuringBatch();
    void hostileInputs();
    void outputFolderThatTakesNothing_data();
    void outputFolderThatTakesNothing();

private:
    // conv hangs for inputs named *hang*, kills itself for *killed*; the rest is the real tools.
    QString fakeApp();
    // The hanging tool's command line, unique to this test process.
    static QString hangingSleep()
    {
        return QStringLiteral("sleep 1000.%1").arg(QCoreApplication::applicationPid());
    }
    // Runs the queue to its end in m_batch, which keeps what it reports; false when it never
    // ended.
    bool run(int format, const QStringList &inputs,
             const QString &app = QStringLiteral(VIDMORPH_APP_DIR),
             int stallMs = FileConversion::DefaultStallTimeoutMs);
    QString out() const { return m_dir->filePath(QStringLiteral("out")); }
    QStringList outputs(bool hidden = false) const;
    QString copyOf(const QString &source, const QString &path) const;
    static QStringList reasonsFor(const BatchScheduler &batch, const QString &input);

    QTemporaryDir m_media;
    std::unique_ptr<QTemporaryDir> m_dir;
    FileListModel m_queue;
    RecordingHost m_host;
    RecordingMessageSink m_messages;
    std::unique_ptr<BatchScheduler> m_batch;
    QString m_clip;
    QString m_bigger;
};

void TestBatchFaults::initTestCase()
{
    m_clip = m_media.filePath(QStringLiteral("clip.mp4"));
    m_bigger = m_media.filePath(QStringLiteral("bigger.mp4"));
    QCOMPARE(TestMedia::make(m_clip, QSize(160, 120), 1.0, 2), QString());
    QCOMPARE(TestMedia::make(m_bigger, QSize(320, 180), 2.0, 2), QString());
}

void TestBatchFaults::init()
{
    m_batch.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    m_queue.clear();
    m_host.folder = out();
    m_messages.messages.clear();
}

QString TestBatchFaults::fakeApp()
{
    const QString app = m_dir->filePath(QStringLiteral("fake app"));
    QDir().mkpath(app + QStringLiteral("/data"));
    QFile conv(app + QStringLiteral("/data/conv"));
    conv.open(QIODevice::WriteOnly);
    // The hanging tool's sleep carries this test's pid in its length, so a sleep of another
    // test running beside this one is never taken for its leftover.
    conv.write(QStringLiteral("#!/bin/sh\n"
                              "case \"$1\" in\n"
                              "  *hang*) exec %1 ;;\n"
                              "  *killed*) kill -9 $$ ;;\n"
                              "esac\n"
                              "exec \"" VIDMORPH_APP_DIR "/data/conv\" \"$@\"\n")
                   .arg(hangingSleep())
                   .toUtf8());
    conv.close();
    conv.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char *tool : {"coder", "coder2"})
        QFile::link(QStringLiteral(VIDMORPH_APP_DIR "/data/") + QLatin1String(tool),
                    app + QStringLiteral("/data/") + QLatin1String(tool));
    return app;
}

bool TestBatchFaults::run(int format, const QStringList &inputs, const QString &app, int stallMs)
{
    m_host.parameters = Formats::defaultParameters(format);
    m_queue.append(FileListModel::entriesFor(inputs));
    m_batch = std::make_unique<BatchScheduler>(m_queue, m_host, testLocations(m_dir->path(), app),
                                               &m_messages);
    m_batch->setProbeLengths(false);
    m_batch->setStallTimeout(stallMs);
    QSignalSpy completed(m_batch.get(), &BatchScheduler::completed);
    QSignalSpy stopped(m_batch.get(), &BatchScheduler::stopped);
    if (!m_batch->begin())
        return false;
    m_batch->ConvertNextFile();
    return QTest::qWaitFor([&] { return completed.count() + stopped.count() > 0; }, 240000);
}

QStringList TestBatchFaults::outputs(bool hidden) const
{
    QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot;
    if (hidden)
        filters |= QDir::Hidden | QDir::Dirs;
    QStringList names = QDir(out()).entryList(filters);
    names.sort();
    return names;
}

QString TestBatchFaults::copyOf(const QString &source, const QString &path) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::copy(source, path);
    return path;
}

QStringList TestBatchFaults::reasonsFor(const BatchScheduler &batch, const QString &input)
{
    QStringList reasons;
    for (const BatchScheduler::Failure &failure : batch.failures())
        if (failure.inputPath == input)
            reasons.append(failure.reason);
    return reasons;
}

void TestBatchFaults::brokenToolEndsOnlyItsFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("extension"); // of the good file's output
    // Long enough for a good file's tool to print its first line on a loaded machine.
    QTest::newRow("a tool that hangs is ended by the stall watch")
        << "hang.mp4" << int(Formats::MPG) << "编码程序停止响应"
        << ".mpg";
    QTest::newRow("a tool killed by a signal")
        << "killed.mp4" << int(Formats::RMVB) << "转换程序意外终止"
        << ".rmvb";
}

// The broken file fails with its reason, the next converts, and nothing of the broken one's
// tool stays running or written.
void TestBatchFaults::brokenToolEndsOnlyItsFile()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(QString, reason);
    QFETCH(QString, extension);
    const QString broken = copyOf(m_clip, m_dir->filePath(QStringLiteral("in/") + name));
    QVERIFY(run(format, {broken, m_clip}, fakeApp(), 5000));
    const BatchScheduler *batch = m_batch.get();
    QCOMPARE(reasonsFor(*batch, broken), QStringList{reason});
    QCOMPARE(batch->filesConverted(), 1);
    QCOMPARE(outputs(true).size(), 1);
    QVERIFY(outputs().first().endsWith(extension));
    QTRY_COMPARE_WITH_TIMEOUT(processesMentioning({hangingSleep(), broken}), QStringList(), 10000);
}

void TestBatchFaults::scratchFolderRemovedDuringBatch()
{
    const QString scratch = testLocations(m_dir->path(), VIDMORPH_APP_DIR).scratchFolder;
    m_host.parameters = Formats::defaultParameters(Formats::ThreeGP);
    m_queue.append(FileListModel::entriesFor({m_clip, m_bigger}));
    BatchScheduler batch(m_queue, m_host, testLocations(m_dir->path(), VIDMORPH_APP_DIR),
                         &m_messages);
    batch.setProbeLengths(false);
    connect(&batch, &BatchScheduler::fileFinished, this,
            [&] { QDir(scratch).removeRecursively(); });
    QSignalSpy completed(&batch, &BatchScheduler::completed);
    QVERIFY(batch.begin());
    batch.ConvertNextFile();
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 240000);
    QCOMPARE(batch.failures().size(), 0);
    QCOMPARE(outputs().size(), 2);
    for (const QString &name : outputs())
        QCOMPARE(TestMedia::decodeErrors(out() + QLatin1Char('/') + name), QString());
}

void TestBatchFaults::hostileInputs()
{
    const QString in = m_dir->filePath(QStringLiteral("in"));
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

    const QStringList all = {zero,    truncated, text,    locked, newline, dash,
                             chinese, folder,    deleted, link,   m_clip};
    m_queue.append(FileListModel::entriesFor(all));
    QFile::remove(deleted);
    QVERIFY(run(Formats::MPG, {}));
    const BatchScheduler *batch = m_batch.get();
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner);

    const bool root = geteuid() == 0; // root reads a file without read permission
    QCOMPARE(m_queue.count(), 0);
    QCOMPARE(reasonsFor(*batch, zero), QStringList{QStringLiteral("输入文件是空的（0 字节）")});
    // Cut in half, but with its index in front as downloads have it: what is there converts,
    // with a warning that says how much is missing.
    QCOMPARE(reasonsFor(*batch, truncated), QStringList());
    QCOMPARE(batch->warnings().size(), 1);
    QCOMPARE(batch->warnings().first().inputPath, truncated);
    QVERIFY(reasonsFor(*batch, text).first().contains(QStringLiteral("无法读取输入文件")));
    QCOMPARE(reasonsFor(*batch, folder), QStringList{QStringLiteral("输入的不是文件")});
    QCOMPARE(reasonsFor(*batch, deleted), QStringList{QStringLiteral("找不到输入文件")});
    if (!root)
        QCOMPARE(reasonsFor(*batch, locked).size(), 1);
    for (const QString &good : {newline, dash, chinese, link, m_clip})
        QCOMPARE(reasonsFor(*batch, good), QStringList());
    const int converted = root ? 7 : 6;
    QCOMPARE(batch->filesConverted(), converted);
    // Only finished outputs are in the folder: no partial or temporary file.
    const QStringList names = outputs(true);
    QCOMPARE(names.size(), converted);
    for (const QString &name : names) {
        QVERIFY2(!name.startsWith(QLatin1Char('.')), qPrintable(name));
        QCOMPARE(TestMedia::decodeErrors(out() + QLatin1Char('/') + name), QString());
    }
    const auto named = [&names](const QString &start) {
        return std::any_of(names.begin(), names.end(),
                           [&start](const QString &n) { return n.startsWith(start); });
    };
    QVERIFY(named(QStringLiteral("-dash-")));
    QVERIFY(named(QStringLiteral("new\nline-")));
    QCOMPARE(processesMentioning({in, out()}), QStringList());
}

void TestBatchFaults::outputFolderThatTakesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("reasons"); // any of these
    QTest::addColumn<QStringList>("left");    // what the folder holds afterwards
    QTest::newRow("unwritable") << "unwritable" << int(Formats::MP3)
                                << QStringList{"无法写入输出文件夹", "输出位置是只读的"}
                                << QStringList();
    QTest::newRow("nearly full") << "nearly full" << int(Formats::MPG)
                                 << QStringList{"磁盘空间不足"} << QStringList{".filler"};
}

// The file fails with the reason the system gives, and nothing half-written stays behind.
void TestBatchFaults::outputFolderThatTakesNothing()
{
    QFETCH(QString, kind);
    QFETCH(int, format);
    QFETCH(QStringList, reasons);
    QFETCH(QStringList, left);
    QDir().mkpath(out());
    const QByteArray folder = out().toUtf8();
    // Root writes into any folder whatever its permissions; a read-only mount stops it too.
    const bool root = geteuid() == 0;
    QString input = m_clip;
    if (kind == QLatin1String("unwritable")) {
        if (root && mount("tmpfs", folder.constData(), "tmpfs", MS_RDONLY, "size=64k") != 0)
            QSKIP("needs permission to mount a read-only tmpfs when run as root");
        if (!root)
            QFile::setPermissions(out(), QFile::ReadOwner | QFile::ExeOwner);
    } else {
        if (!root || mount("tmpfs", folder.constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("needs root and permission to mount a small tmpfs");
        QFile filler(out() + QStringLiteral("/.filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(200 * 1024, 'x'));
        filler.close();
        input = m_media.filePath(QStringLiteral("long.mkv"));
        if (!QFile::exists(input))
            QCOMPARE(TestMedia::make(input, QSize(320, 180), 4.0, 2), QString());
    }
    const bool ended = run(format, {input});
    const QStringList there =
        QDir(out()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (root)
        umount(folder.constData());
    else
        QFile::setPermissions(out(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(ended);
    QCOMPARE(m_batch->filesConverted(), 0);
    const QStringList given = reasonsFor(*m_batch, input);
    QCOMPARE(given.size(), 1);
    QVERIFY2(reasons.contains(given.first()), qPrintable(given.first()));
    QCOMPARE(there, left);
}

QTEST_GUILESS_MAIN(TestBatchFaults)
#include "test_batchfaults.moc"
