#include "TestMedia.h"
#include "WindowFixture.h"
#include "app/SingleInstance.h"
#include "convert/FileListModel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// A window holding the single-instance lock, wired as main() wires it, and later copies of the
// real executable: a plain copy hands its files over, a headless one converts on its own.
class TestHandoff : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondCopyAddsExactlyItsFiles();
    void headlessRunWorksBesideTheWindow();

private:
    WindowFixture m_fixture;
    std::unique_ptr<frmMain> m_window;
    std::unique_ptr<SingleInstance> m_instance;
};

static const QString executable = QStringLiteral(VIDMORPH_APP_DIR "/vidmorph");

void TestHandoff::init()
{
    m_fixture.reset();
    m_instance = std::make_unique<SingleInstance>(
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    QVERIFY(m_instance->acquire());
    m_window = m_fixture.load();
    m_window->appendFiles({QStringLiteral("/already/there.avi")});
    connect(m_instance.get(), &SingleInstance::filesReceived, m_window.get(),
            &frmMain::receiveFiles);
}

void TestHandoff::cleanup()
{
    m_instance.reset();
    m_window.reset();
}

void TestHandoff::secondCopyAddsExactlyItsFiles()
{
    const QString folder = m_fixture.path(QStringLiteral("媒体 文件"));
    QVERIFY(QDir().mkpath(folder));
    const QString chinese = folder + QStringLiteral("/我的 假期 视频.avi");
    const QString plain = m_fixture.path(QStringLiteral("clip.mpg"));
    // Minimised, with another window in front.
    m_window->show();
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QVERIFY(QTest::qWaitForWindowActive(&other));
    m_window->showMinimized();
    QTRY_VERIFY(m_window->isMinimized());
    QSignalSpy rowsAdded(m_window->files(), &FileListModel::rowsInserted);
    QProcess second;
    second.setWorkingDirectory(folder);
    // A relative name: the first copy must get the path as the second copy's folder sees it.
    second.start(executable, {QStringLiteral("我的 假期 视频.avi"), plain});
    QVERIFY(second.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->files()->count(), 3, 5000);
    QCOMPARE(m_window->files()->paths(),
             QStringList({QStringLiteral("/already/there.avi"), chinese, plain}));
    QCOMPARE(rowsAdded.count(), 1);
    QVERIFY(m_fixture.messages.messages.isEmpty());
    // The window the files went to comes back and to the front.
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isMinimized(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isActiveWindow(), 30000);
}

void TestHandoff::headlessRunWorksBesideTheWindow()
{
    const QString clip = m_fixture.path(QStringLiteral("short.mp4"));
    QCOMPARE(TestMedia::make(clip, QSize(160, 120), 1.0, 2), QString());
    QProcess headless;
    headless.setWorkingDirectory(m_fixture.path());
    headless.start(executable, {"--convert", "--format", "MP3", "--output", "mp3", clip});
    QVERIFY(headless.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(headless.state(), QProcess::NotRunning, 120000);
    QCOMPARE(headless.exitCode(), 0);
    QCOMPARE(QDir(m_fixture.path(QStringLiteral("mp3"))).entryList(QDir::Files).size(), 1);
    // It handed nothing to the window.
    QCOMPARE(m_window->files()->paths(), QStringList{QStringLiteral("/already/there.avi")});
}

QTEST_MAIN(TestHandoff)
#include "test_handoff.moc"
