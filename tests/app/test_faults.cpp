#include "ProcessTable.h"
#include "TestMedia.h"
#include "WindowFixture.h"
#include "convert/BatchScheduler.h"
#include "convert/Formats.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

// What the window does when a batch meets trouble: a tool that hangs is stopped with the Stop
// button, and no ffmpeg at all is said before anything starts. What the engine does with every
// other fault is tested without a window (tests/convert/test_batchfaults.cpp).
class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void hangingToolCanBeStopped();
    void ffmpegMissingIsSaidAtStart();

private:
    std::unique_ptr<frmMain> window(const QString &appFolder = QStringLiteral(VIDMORPH_APP_DIR));
    QString hangingApp(); // its conv never ends
    QString copyOf(const QString &source, const QString &path);

    QTemporaryDir m_media;
    WindowFixture m_fixture;
    RecordingMessageSink &m_messages = m_fixture.messages;
    QString m_clip;
};

void TestFaults::initTestCase()
{
    m_clip = m_media.filePath(QStringLiteral("clip.mp4"));
    QCOMPARE(TestMedia::make(m_clip, QSize(160, 120), 1.0, 2), QString());
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

QString TestFaults::hangingApp()
{
    const QString app = m_fixture.path(QStringLiteral("hanging app"));
    QDir().mkpath(app + QStringLiteral("/data"));
    QFile conv(app + QStringLiteral("/data/conv"));
    conv.open(QIODevice::WriteOnly);
    conv.write("#!/bin/sh\nexec sleep 1000\n");
    conv.close();
    conv.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return app;
}

QString TestFaults::copyOf(const QString &source, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::copy(source, path);
    return path;
}

void TestFaults::hangingToolCanBeStopped()
{
    auto w = window(hangingApp());
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

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
