#include "app/RuntimeFolder.h"
#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

// The real executable as first and as later copy, in the runtime folder of this test.
class TestInstance : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondCopyExitsAtOnce();
    void secondCopyHandsOverItsFiles();
    void killedFirstCopyDoesNotBlockTheNext();
    void handOffClientsAreBounded_data();
    void handOffClientsAreBounded();
    void runtimeFolder_data();
    void runtimeFolder();
    void unusableRuntimeFolderStillStarts();

private:
    void startFirst(QProcess &process);
    QString runtime() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }

    QTemporaryDir m_settings;
    QProcess m_first;
};

static const QString executable = QStringLiteral(VIDMORPH_APP_DIR "/vidmorph");

void TestInstance::init()
{
    qputenv("VIDMORPH_SETTINGS_DIR", m_settings.path().toUtf8());
    // A copy killed by an earlier run leaves its socket behind; waiting for the socket must
    // wait for this run's first copy.
    QFile::remove(runtime() + QStringLiteral("/vidmorph.socket"));
    QFile::remove(runtime() + QStringLiteral("/vidmorph.lock"));
}

void TestInstance::cleanup()
{
    if (m_first.state() != QProcess::NotRunning) {
        m_first.kill();
        m_first.waitForFinished();
    }
}

void TestInstance::startFirst(QProcess &process)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(executable, {});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(runtime() + QStringLiteral("/vidmorph.socket")),
                             20000);
}

void TestInstance::secondCopyExitsAtOnce()
{
    startFirst(m_first);
    QProcess second;
    second.start(executable, {QStringLiteral("/tmp/one.avi")});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(m_first.state(), QProcess::Running);
}

void TestInstance::secondCopyHandsOverItsFiles()
{
    SingleInstance first(runtime());
    QVERIFY(first.acquire());
    QSignalSpy received(&first, &SingleInstance::filesReceived);
    QTemporaryDir dir;
    const QString chinese = dir.filePath(QStringLiteral("我的 假期 视频.avi"));
    const QString plain = dir.filePath(QStringLiteral("clip.mpg"));
    QProcess second;
    second.setWorkingDirectory(dir.path());
    second.start(executable, {QStringLiteral("我的 假期 视频.avi"), plain});
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 20000);
    QCOMPARE(received.at(0).at(0).toStringList(), QStringList({chinese, plain}));
    // It may have ended while the event loop above ran; waitForFinished is false then.
    QVERIFY(second.state() == QProcess::NotRunning || second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 0);
}

void TestInstance::killedFirstCopyDoesNotBlockTheNext()
{
    startFirst(m_first);
    ::kill(pid_t(m_first.processId()), SIGKILL);
    QVERIFY(m_first.waitForFinished());
    QProcess next;
    next.start(executable, {});
    QVERIFY(next.waitForStarted());
    // A copy that found the lock held would be gone within this time.
    QVERIFY(!next.waitForFinished(3000));
    next.kill();
    next.waitForFinished();
}

void TestInstance::handOffClientsAreBounded_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("stalls halfway") << QByteArray("100\n/v/a.avi");
    QTest::newRow("says nothing") << QByteArray();
    QTest::newRow("announces more than a list of files needs")
        << QByteArray::number(SingleInstance::MaxMessageBytes + 1) + "\n/v/a.avi";
    QTest::newRow("no length line") << QByteArray(64 * 1024, 'x');
    QTest::newRow("sends more than it announced") << QByteArray("3\n/v/a.avi\0/v/b.avi");
}

// A client of the hand-off socket is dropped once it stalls or sends too much, and what it
// sent never becomes a row.
void TestInstance::handOffClientsAreBounded()
{
    QFETCH(QByteArray, sent);
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    first.setClientTimeoutMs(500);
    QVERIFY(first.acquire());
    QSignalSpy received(&first, &SingleInstance::filesReceived);
    QLocalSocket client;
    client.connectToServer(folder.filePath(QStringLiteral("vidmorph.socket")));
    QVERIFY(client.waitForConnected(30000));
    QSignalSpy dropped(&client, &QLocalSocket::disconnected);
    client.write(sent);
    QVERIFY(dropped.wait(30000));
    QCOMPARE(received.count(), 0);
}

void TestInstance::runtimeFolder_data()
{
    QTest::addColumn<QString>("kind");    // what XDG_RUNTIME_DIR names
    QTest::addColumn<QString>("problem"); // "" when it is used
    QTest::newRow("private folder") << "private"
                                    << "";
    QTest::newRow("missing, made private") << "missing"
                                           << "";
    QTest::newRow("open to others") << "open"
                                    << "其他用户也能访问";
    QTest::newRow("a link to a private folder") << "link"
                                                << "是一个链接";
    QTest::newRow("a file") << "file"
                            << "不是文件夹";
    QTest::newRow("another user's") << "foreign"
                                    << "属于另一个用户";
}

void TestInstance::runtimeFolder()
{
    QFETCH(QString, kind);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString usual = dir.filePath(QStringLiteral("runtime"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    if (kind == QLatin1String("private") || kind == QLatin1String("open") ||
        kind == QLatin1String("foreign"))
        QVERIFY(QDir().mkpath(usual));
    if (kind == QLatin1String("open"))
        QVERIFY(::chmod(QFile::encodeName(usual).constData(), 0777) == 0);
    if (kind == QLatin1String("private"))
        QVERIFY(::chmod(QFile::encodeName(usual).constData(), 0700) == 0);
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(elsewhere, usual));
    if (kind == QLatin1String("file")) {
        QFile file(usual);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (kind == QLatin1String("foreign")) {
        QVERIFY(::chmod(QFile::encodeName(usual).constData(), 0700) == 0);
        if (::chown(QFile::encodeName(usual).constData(), geteuid() + 4242, getegid()) != 0)
            QSKIP("only root can give a folder to another user");
    }
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), usual);
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    const RuntimeFolder::Choice choice = RuntimeFolder::choose(environment);
    if (problem.isEmpty()) {
        QCOMPARE(choice.folder, usual);
        QCOMPARE(choice.problem, QString());
    } else {
        QCOMPARE(choice.folder, dir.filePath(QStringLiteral("cache/vidmorph/runtime")));
        QVERIFY2(choice.problem.contains(usual) && choice.problem.contains(problem) &&
                     choice.problem.contains(choice.folder),
                 qPrintable(choice.problem));
    }
    // Whichever it is, it is a private folder of this user's.
    QCOMPARE(RuntimeFolder::problemWith(choice.folder), QString());
    QCOMPARE(QFileInfo(choice.folder).permissions() & (QFile::ReadGroup | QFile::ReadOther),
             QFile::Permissions());
}

// The real program, whose runtime folder another user could read: it says so and starts.
void TestInstance::unusableRuntimeFolderStillStarts()
{
    QTemporaryDir dir;
    const QString open = dir.filePath(QStringLiteral("open"));
    QVERIFY(QDir().mkpath(open));
    QVERIFY(::chmod(QFile::encodeName(open).constData(), 0777) == 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), open);
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    m_first.setProcessEnvironment(environment);
    m_first.setProcessChannelMode(QProcess::SeparateChannels);
    m_first.start(executable, {});
    QVERIFY(m_first.waitForStarted());
    const QString socket = dir.filePath(QStringLiteral("cache/vidmorph/runtime/vidmorph.socket"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 30000);
    QCOMPARE(m_first.state(), QProcess::Running);
    QString said;
    QTRY_VERIFY_WITH_TIMEOUT(
        (said += QString::fromUtf8(m_first.readAllStandardError())).contains(QLatin1Char('\n')),
        30000);
    QVERIFY2(said.contains(open) && said.contains(QStringLiteral("其他用户也能访问")),
             qPrintable(said));
}

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
