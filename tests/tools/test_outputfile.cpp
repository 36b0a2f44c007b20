// How a tool's output is written and takes its final name: in a file of its own that nobody else
// can name in advance, renamed over whatever entry stands at the final name, never through it.
#include "common/OutputFile.h"
#include "common/OutputFormat.h"
#include "common/ToolFailure.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestOutputFile : public QObject
{
    Q_OBJECT

private slots:
    void temporaryFile_data();
    void temporaryFile();
    void commit_data();
    void commit();
    void reservedFolder_data();
    void reservedFolder();
    void folderFlippedInALoop();
    void modeFollowsTheUmask_data();
    void modeFollowsTheUmask();
    void muxer_data();
    void muxer();
};

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeThrough(int fd, const QByteArray &content)
{
    QCOMPARE(::pwrite(fd, content.constData(), size_t(content.size()), 0), content.size());
}

struct stat statusOf(const QString &path)
{
    struct stat status = {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

QString errorLine(const char *text)
{
    return QString::fromUtf8(ToolContract::ErrorPrefix) + QString::fromUtf8(text);
}

// Takes the name as the converter does, and tells the tool the folder it was taken in.
QByteArray reserve(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int folder = ::open(QFile::encodeName(QFileInfo(path).path()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat status = {};
    ::fstat(folder, &status);
    const int fd = ::openat(folder, QFile::encodeName(QFileInfo(path).fileName()).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    ::close(folder);
    if (fd < 0)
        return {};
    ::close(fd);
    return QByteArray::fromStdString(ToolContract::identity(status.st_dev, status.st_ino));
}

QStringList hiddenEntries(const QString &folder)
{
    return QDir(folder).entryList({QString::fromUtf8(ToolContract::TemporaryPrefix) + '*'},
                                  QDir::AllEntries | QDir::Hidden | QDir::System);
}
} // namespace

void TestOutputFile::temporaryFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("short") << "clip.mkv";
    QTest::newRow("at the limit of a name") << QString(250, QLatin1Char('a')) + ".mp4";
}

// The file is there from the start, private, under a name that carries the process id (for the
// converter's clean-up) and letters nobody can guess, so two runs never meet at one name.
void TestOutputFile::temporaryFile()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString final = dir.filePath(name);
    OutputFile first(final.toStdString()), second(final.toStdString());
    const QString path = QString::fromStdString(first.temporaryPath());
    QCOMPARE(QFileInfo(path).absolutePath(), dir.path());
    const QString hidden = QFileInfo(path).fileName();
    QVERIFY2(hidden.startsWith(QString::fromStdString(ToolContract::temporaryPrefix(getpid()))),
             qPrintable(hidden));
    QVERIFY(hidden.endsWith(name.right(4)));
    QVERIFY(QFile::encodeName(hidden).size() <= 255);
    QVERIFY(path != QString::fromStdString(second.temporaryPath()));

    const struct stat status = statusOf(path);
    QVERIFY(S_ISREG(status.st_mode));
    QCOMPARE(status.st_mode & 07777, mode_t(0600));
    struct stat open = {};
    QCOMPARE(::fstat(first.descriptor(), &open), 0);
    QCOMPARE(open.st_ino, status.st_ino);
    QVERIFY(!QFile::exists(final));
}

void TestOutputFile::commit_data()
{
    QTest::addColumn<QString>("before");  // what the final name holds when the tool starts
    QTest::addColumn<QString>("during");  // what another program does while the encoder runs
    QTest::addColumn<QString>("outcome"); // "" for success, else the error line's beginning
    QTest::addColumn<QByteArray>("kept"); // what the final name holds afterwards
    QTest::addColumn<int>("leftBehind");  // hidden entries left, none of them the tool's

    namespace E = ToolContract::Error;
    const QByteArray encoded = "encoded";
    QTest::newRow("free") << "none"
                          << "none"
                          << "" << encoded << 0;
    QTest::newRow("the converter's reservation") << "empty"
                                                 << "none"
                                                 << "" << encoded << 0;
    QTest::newRow("an earlier output") << "content"
                                       << "none"
                                       << "" << encoded << 0;
    QTest::newRow("a link to the user's file") << "link"
                                               << "none"
                                               << "" << encoded << 0;
    QTest::newRow("a dangling link") << "dangling"
                                     << "none"
                                     << "" << encoded << 0;
    QTest::newRow("another user's world-writable file") << "planted"
                                                        << "none"
                                                        << "" << encoded << 0;
    QTest::newRow("reservation removed meanwhile") << "empty"
                                                   << "remove"
                                                   << "" << encoded << 0;
    QTest::newRow("a link planted meanwhile") << "empty"
                                              << "link"
                                              << "" << encoded << 0;
    QTest::newRow("the hidden file swapped for a link")
        << "empty"
        << "swap" << errorLine(E::CannotCreate) << QByteArray() << 1;
    QTest::newRow("a folder meanwhile")
        << "none"
        << "folder" << errorLine(E::OutputIsFolder) << QByteArray() << 0;
    QTest::newRow("nothing encoded")
        << "empty"
        << "nothing encoded" << errorLine(E::NoOutputWritten) << QByteArray() << 0;
    QTest::newRow("a folder") << "folder"
                              << "none" << errorLine(E::OutputIsFolder) << QByteArray() << 0;
    QTest::newRow("a pipe") << "fifo"
                            << "none" << errorLine(E::OutputNotAFile) << QByteArray() << 0;
}

void TestOutputFile::commit()
{
    QFETCH(QString, before);
    QFETCH(QString, during);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, kept);
    QFETCH(int, leftBehind);

    QTemporaryDir dir;
    const QString final = dir.filePath(QStringLiteral("clip.mp4"));
    // A private file of the user's that a link points at; it must never change.
    const QString victim = dir.filePath(QStringLiteral("private.txt"));
    writeFile(victim, "private");
    const auto plantLink = [&] { QVERIFY(QFile::link(victim, final)); };
    if (before == QLatin1String("empty")) {
        writeFile(final, {});
    } else if (before == QLatin1String("content")) {
        writeFile(final, "earlier");
    } else if (before == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(final));
    } else if (before == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(final).constData(), 0600), 0);
    } else if (before == QLatin1String("link")) {
        plantLink();
    } else if (before == QLatin1String("dangling")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), final));
    } else if (before == QLatin1String("planted")) {
        if (::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        writeFile(final, "theirs");
        QCOMPARE(::chown(QFile::encodeName(final).constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(QFile::encodeName(final).constData(), 0666), 0);
    }
    const ino_t plantedInode = statusOf(final).st_ino;

    QString error;
    try {
        OutputFile output(final.toStdString());
        const QString hidden = QString::fromStdString(output.temporaryPath());
        if (during != QLatin1String("nothing encoded"))
            writeThrough(output.descriptor(), "encoded");
        if (during == QLatin1String("remove")) {
            QVERIFY(QFile::remove(final));
        } else if (during == QLatin1String("link")) {
            QVERIFY(QFile::remove(final));
            plantLink();
        } else if (during == QLatin1String("swap")) {
            QVERIFY(QFile::remove(hidden));
            QVERIFY(QFile::link(victim, hidden));
        } else if (during == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(final));
        }
        output.commit();
    } catch (const ToolFailure &failure) {
        error = QString::fromUtf8(failure.what());
    }

    if (outcome.isEmpty())
        QVERIFY2(error.isEmpty(), qPrintable(error));
    else
        QVERIFY2(error.startsWith(outcome), qPrintable(error));
    QCOMPARE(readFile(victim), QByteArray("private"));
    if (outcome.isEmpty()) {
        // The user's own new file: not a link, not the inode that stood there.
        const struct stat status = statusOf(final);
        QVERIFY(S_ISREG(status.st_mode));
        QCOMPARE(status.st_uid, ::geteuid());
        QVERIFY(status.st_ino != plantedInode);
        QCOMPARE(readFile(final), kept);
    } else if (before == QLatin1String("empty")) {
        QCOMPARE(readFile(final), kept);
    }
    QCOMPARE(hiddenEntries(dir.path()).size(), leftBehind);
}

void TestOutputFile::reservedFolder_data()
{
    QTest::addColumn<QString>("before"); // "reserved", "earlier output", "other folder"
    QTest::addColumn<QString>("during"); // what another program does while the encoder runs
    QTest::addColumn<QString>("outcome");
    namespace E = ToolContract::Error;
    QTest::newRow("the reservation") << "reserved"
                                     << "none"
                                     << "";
    QTest::newRow("not reserved: an earlier output") << "earlier output"
                                                     << "none" << errorLine(E::CannotCreate);
    QTest::newRow("reservation removed meanwhile") << "reserved"
                                                   << "remove" << errorLine(E::CannotCreate);
    QTest::newRow("reservation replaced by a link") << "reserved"
                                                    << "link" << errorLine(E::CannotCreate);
    QTest::newRow("reservation written to") << "reserved"
                                            << "write" << errorLine(E::CannotCreate);
    QTest::newRow("the folder swapped for a link") << "other folder"
                                                   << "none" << errorLine(E::OutputFolderReplaced);
}

// Run by the converter, a tool replaces only the empty file that reserved the name, in the very
// folder it was reserved in.
void TestOutputFile::reservedFolder()
{
    QFETCH(QString, before);
    QFETCH(QString, during);
    QFETCH(QString, outcome);
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("victim/clip.mp4"));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("victim")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("mine")));
    writeFile(victim, "private");
    const QString final = dir.filePath(QStringLiteral("out/clip.mp4"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("mine")), dir.filePath(QStringLiteral("out"))));
    QByteArray identity = reserve(final);
    QVERIFY(!identity.isEmpty());
    if (before == QLatin1String("earlier output")) {
        writeFile(final, "earlier");
    } else if (before == QLatin1String("other folder")) {
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("out"))));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("victim")),
                            dir.filePath(QStringLiteral("out"))));
    }
    qputenv(ToolContract::OutputFolderIdentityVariable, identity);
    const auto unset = qScopeGuard([] { qunsetenv(ToolContract::OutputFolderIdentityVariable); });
    QString error;
    try {
        OutputFile output(final.toStdString());
        writeThrough(output.descriptor(), "encoded");
        if (during == QLatin1String("remove")) {
            QVERIFY(QFile::remove(final));
        } else if (during == QLatin1String("link")) {
            QVERIFY(QFile::remove(final));
            QVERIFY(QFile::link(victim, final));
        } else if (during == QLatin1String("write")) {
            writeFile(final, "somebody's");
        }
        output.commit();
    } catch (const ToolFailure &failure) {
        error = QString::fromUtf8(failure.what());
    }
    if (outcome.isEmpty()) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(readFile(final), QByteArray("encoded"));
    } else {
        QVERIFY2(error.startsWith(outcome), qPrintable(error));
        QVERIFY(readFile(final) != "encoded");
    }
    QCOMPARE(readFile(victim), QByteArray("private"));
    QCOMPARE(hiddenEntries(dir.filePath(QStringLiteral("mine"))).size(), 0);
    QCOMPARE(hiddenEntries(dir.filePath(QStringLiteral("victim"))).size(), 0);
}

// Someone who can write the output folder flips a subfolder between a folder of hers and the
// victim's, as fast as she can, while names are reserved and outputs committed: the victim's
// file is never replaced, and every output that got written is in the folder it was reserved in.
void TestOutputFile::folderFlippedInALoop()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("victim")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("mine")));
    const QString victim = dir.filePath(QStringLiteral("victim/clip.mp3"));
    writeFile(victim, "private");
    const QByteArray sub = QFile::encodeName(dir.filePath(QStringLiteral("sub")));
    const QByteArray flip = QFile::encodeName(dir.filePath(QStringLiteral("flip")));
    QVERIFY(QFile::link(QStringLiteral("mine"), QString::fromLocal8Bit(sub)));
    std::atomic_bool done{false};
    std::thread flipper([&] {
        for (bool toVictim = true; !done; toVictim = !toVictim) {
            ::unlink(flip.constData());
            if (::symlink(toVictim ? "victim" : "mine", flip.constData()) == 0)
                ::rename(flip.constData(), sub.constData());
        }
    });
    const auto stop = qScopeGuard([&] {
        done = true;
        flipper.join();
        qunsetenv(ToolContract::OutputFolderIdentityVariable);
    });
    const QString final = QString::fromLocal8Bit(sub) + QStringLiteral("/clip.mp3");
    const QString mine = dir.filePath(QStringLiteral("mine/clip.mp3"));
    int committed = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        const QByteArray identity = reserve(final);
        if (identity.isEmpty())
            continue; // the victim's name is there: the converter picks another
        qputenv(ToolContract::OutputFolderIdentityVariable, identity);
        try {
            OutputFile output(final.toStdString());
            writeThrough(output.descriptor(), "encoded");
            output.commit();
            ++committed;
        } catch (const ToolFailure &) {
            ++refused;
        }
        QCOMPARE(readFile(victim), QByteArray("private"));
        QFile::remove(mine);
    }
    QVERIFY(committed + refused > 0);
    QCOMPARE(QDir(dir.filePath(QStringLiteral("victim")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("clip.mp3")});
}

void TestOutputFile::modeFollowsTheUmask_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("input"); // the input's mode, -1: none given
    QTest::addColumn<int>("mode");
    QTest::newRow("022") << 022 << -1 << 0644;
    QTest::newRow("077") << 077 << -1 << 0600;
    QTest::newRow("002") << 002 << -1 << 0664;
    QTest::newRow("private input") << 022 << 0600 << 0600;
    QTest::newRow("group input") << 002 << 0640 << 0640;
    QTest::newRow("open input, closed umask") << 077 << 0666 << 0600;
    QTest::newRow("readable input") << 022 << 0644 << 0644;
    QTest::newRow("executable input") << 022 << 0755 << 0644;
}

// Never more readable than the input, from the moment the name is there.
void TestOutputFile::modeFollowsTheUmask()
{
    QFETCH(int, mask);
    QFETCH(int, input);
    QFETCH(int, mode);
    QTemporaryDir dir;
    const QString final = dir.filePath(QStringLiteral("clip.mp3"));
    const mode_t previous = ::umask(mode_t(mask));
    {
        OutputFile output(final.toStdString());
        if (input >= 0)
            output.limitModeTo(mode_t(input));
        writeThrough(output.descriptor(), "encoded");
        output.commit();
    }
    ::umask(previous);
    QCOMPARE(int(statusOf(final).st_mode & 07777), mode);
}

void TestOutputFile::muxer_data()
{
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("muxer"); // empty: refused
    QTest::newRow("MP4") << ""
                         << "clip.mp4"
                         << "mp4";
    QTest::newRow("capital extension") << ""
                                       << "CLIP.MKV"
                                       << "matroska";
    QTest::newRow("M4A") << ""
                         << "clip.m4a"
                         << "ipod";
    QTest::newRow("VOB as ffmpeg picks it") << ""
                                            << "clip.vob"
                                            << "svcd";
    QTest::newRow("RMVB named rm") << "rm"
                                   << "clip.rmvb"
                                   << "rm";
    QTest::newRow("3GP for an .mp4") << "3gp"
                                     << "clip.mp4"
                                     << "3gp";
    QTest::newRow("RMVB without a format") << ""
                                           << "clip.rmvb"
                                           << "";
    QTest::newRow("no extension") << ""
                                  << "clip"
                                  << "";
    QTest::newRow("HLS playlist by extension") << ""
                                               << "clip.m3u8"
                                               << "";
    QTest::newRow("DASH manifest by extension") << ""
                                                << "clip.mpd"
                                                << "";
    QTest::newRow("image sequence by extension") << ""
                                                 << "frame%03d.png"
                                                 << "";
    for (const char *refused :
         {"hls", "dash", "hds", "segment", "stream_segment", "image2", "webm_chunk", "tee", "fifo",
          "null", "alsa", "pulse", "rtp", "rtsp", "smoothstreaming"})
        QTest::addRow("-f %s", refused) << refused << "clip.mp4"
                                        << "";
}

void TestOutputFile::muxer()
{
    QFETCH(QString, requested);
    QFETCH(QString, name);
    QFETCH(QString, muxer);
    QTemporaryDir dir;
    const std::string path = dir.filePath(name).toStdString();
    QString chosen, error;
    try {
        chosen = QString::fromStdString(OutputFormat::muxerFor(requested.toStdString(), path));
    } catch (const ToolFailure &failure) {
        error = QString::fromUtf8(failure.what());
    }
    QCOMPARE(chosen, muxer);
    if (muxer.isEmpty()) {
        QVERIFY2(error.startsWith(errorLine(ToolContract::Error::OutputFormatRefused)),
                 qPrintable(error));
        return;
    }
    // ffmpeg writes into the file the tool holds, under the muxer chosen for it.
    OutputFile output(path, requested.toStdString());
    const std::vector<std::string> expected = {"-f", muxer.toStdString(), "file:/proc/self/fd/4"};
    QVERIFY(output.ffmpegTarget() == expected);
}

QTEST_GUILESS_MAIN(TestOutputFile)
#include "test_outputfile.moc"
