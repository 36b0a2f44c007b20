#include "app/SingleInstance.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

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

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
