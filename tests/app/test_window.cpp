#include "ProcessTable.h"
#include "RecordingDesktopServices.h"
#include "RecordingMessageSink.h"
#include "TestLocations.h"
#include "TestMedia.h"
#include "process/SettingsFiles.h"
#include "app/frmMain.h"
#include "convert/BatchScheduler.h"
#include "dialogs/FileDialogs.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

// The window's chrome, its small commands (browse, help, web, dialogs) and leaving it.
class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cornerButtonsLightAndGoOut();
    void minimiseUnlightsItsButton();
    void helpAndWebLinks();
    void browseForOutputFolder();
    void dialogsOpenModally_data();
    void dialogsOpenModally();
    void exitWritesSetupIni_data();
    void exitWritesSetupIni();
    void closeRemovesScratchFilesWithoutSaving();
    void exitDuringConversionLeavesNothingBehind();

private:
    std::unique_ptr<frmMain> window();
    void move(QWidget *widget, QPoint at = QPoint(2, 2));
    void click(QWidget *widget);

    std::unique_ptr<QTemporaryDir> m_dir;
    Locations m_places;
    RecordingMessageSink m_messages;
    RecordingDesktopServices m_desktop;
};

void TestWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_places = testLocations(m_dir->path(), QStringLiteral(VIDMORPH_APP_DIR));
    m_messages.messages.clear();
    m_desktop.opened.clear();
}

std::unique_ptr<frmMain> TestWindow::window()
{
    auto w = std::make_unique<frmMain>(m_places, &m_messages, &m_desktop);
    w->Form_Load();
    w->show();
    return w;
}

void TestWindow::move(QWidget *widget, QPoint at)
{
    QMouseEvent event(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void TestWindow::click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
}

void TestWindow::cornerButtonsLightAndGoOut()
{
    auto w = window();
    for (QLabel *button : {w->imgHelp, w->imgMin, w->imgExit})
        QVERIFY(button->pixmap().isNull());
    QVERIFY(!w->lblFeed->font().bold());
    move(w->imgHelp);
    move(w->imgMin);
    move(w->imgExit);
    move(w->lblFeed);
    QCOMPARE(w->imgHelp->pixmap().size(), QSize(12, 17));
    QCOMPARE(w->imgMin->pixmap().size(), QSize(14, 14));
    QCOMPARE(w->imgExit->pixmap().size(), QSize(14, 13));
    QVERIFY(w->lblFeed->font().bold());
    // Leaving a button for another control, or the window, keeps it lit.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w->imgExit, &leave);
    move(w->cmbOF);
    QVERIFY(!w->imgExit->pixmap().isNull());
    // A move over the window's own surface puts them all out.
    move(w.get(), QPoint(600, 40));
    for (QLabel *button : {w->imgHelp, w->imgMin, w->imgExit})
        QVERIFY(button->pixmap().isNull());
    QVERIFY(!w->lblFeed->font().bold());
    for (QWidget *pointer : {static_cast<QWidget *>(w->imgHelp), static_cast<QWidget *>(w->imgMin),
                             static_cast<QWidget *>(w->imgExit), static_cast<QWidget *>(w->lblFeed),
                             static_cast<QWidget *>(w->lblWeb)})
        QCOMPARE(pointer->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(w->imgHelp->toolTip(), QStringLiteral("Help & Tutorial"));
    QCOMPARE(w->imgMin->toolTip(), QStringLiteral("Minimize Window"));
    QCOMPARE(w->imgExit->toolTip(), QStringLiteral("Exit"));
    QCOMPARE(w->lblFeed->toolTip(), QStringLiteral("Send us your suggestion or question"));
}

void TestWindow::minimiseUnlightsItsButton()
{
    auto w = window();
    move(w->imgMin);
    click(w->imgMin);
    QVERIFY(w->windowState() & Qt::WindowMinimized);
    QVERIFY(w->imgMin->pixmap().isNull());
}

void TestWindow::helpAndWebLinks()
{
    auto w = window();
    move(w->imgHelp);
    click(w->imgHelp);
    QCOMPARE(m_desktop.opened, QStringList{QStringLiteral(VIDMORPH_APP_DIR "/help.html")});
    QVERIFY(QFile::exists(m_desktop.opened.first()));
    QVERIFY(w->imgHelp->pixmap().isNull());
    click(w->lblWeb);
    QCOMPARE(m_desktop.opened.last(), frmMain::homePage());
    QVERIFY(frmMain::homePage().startsWith(QLatin1String("http")));
}

void TestWindow::browseForOutputFolder()
{
    auto w = window();
    const QString folder = m_dir->filePath(QStringLiteral("视频 输出"));
    FileDialogs::queueAnswers({folder, QStringLiteral("/"), QString()});
    w->cmdBrowse->click();
    QCOMPARE(w->txtPath->text(), folder);
    w->cmdBrowse->click();
    QCOMPARE(w->txtPath->text(), QStringLiteral("/"));
    // Cancelling puts the default folder back, whatever was chosen before.
    w->cmdBrowse->click();
    QCOMPARE(w->txtPath->text(), QStringLiteral(VIDMORPH_APP_DIR "/output"));
}

void TestWindow::dialogsOpenModally_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("options from the settings button") << "选项设置";
    QTest::newRow("feedback from the label") << "建议和意见";
}

void TestWindow::dialogsOpenModally()
{
    QFETCH(QString, title);
    auto w = window();
    QString seen;
    bool modal = false;
    QTimer::singleShot(0, this, [&] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            seen = dialog->windowTitle();
            modal = dialog->isModal();
            dialog->reject();
        }
    });
    if (title == QStringLiteral("选项设置"))
        w->CmdToolsBar_Click(4);
    else
        click(w->lblFeed);
    QCOMPARE(seen, title);
    QVERIFY(modal);
}

void TestWindow::exitWritesSetupIni_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("second format")
        << 1 << "/srv/out" << QByteArray("\"/srv/out\"\r\n\x22\x31\x22\r\n");
    QTest::newRow("fourth format")
        << 3 << "/home/li/Videos" << QByteArray("\"/home/li/Videos\"\r\n\"3\"\r\n");
}

void TestWindow::exitWritesSetupIni()
{
    QFETCH(int, format);
    QFETCH(QString, folder);
    QFETCH(QByteArray, tail);
    auto w = window();
    w->cmbOF->setCurrentIndex(format);
    w->txtPath->setText(folder);
    w->CmdToolsBar_Click(5);
    QVERIFY(!w->isVisible());
    const QByteArray stored = SettingsFiles::readFile(m_places.setupIni()).value_or(QByteArray());
    QCOMPARE(stored.count("\r\n"), 5);
    QVERIFY2(stored.endsWith(tail), stored.constData());
}

void TestWindow::closeRemovesScratchFilesWithoutSaving()
{
    auto w = window();
    QVERIFY(QDir().mkpath(m_places.scratchFolder));
    for (const char *name : {"tmpfile.wav", "tmpfile1.mp3", "tmp.mp4"}) {
        QFile file(m_places.scratchFolder + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    w->close(); // as Alt+F4 does
    QVERIFY(!w->isVisible());
    QVERIFY(!QFile::exists(m_places.setupIni()));
    QVERIFY(!QFile::exists(m_places.scratchFolder + QStringLiteral("/tmpfile.wav")));
    QVERIFY(!QFile::exists(m_places.scratchFolder + QStringLiteral("/tmpfile1.mp3")));
    QVERIFY(QFile::exists(m_places.scratchFolder + QStringLiteral("/tmp.mp4")));
}

void TestWindow::exitDuringConversionLeavesNothingBehind()
{
    const QString clip = m_dir->filePath(QStringLiteral("long.mkv"));
    QCOMPARE(TestMedia::make(clip, QSize(640, 360), 30.0, 2), QString());
    auto w = window();
    const QString out = m_dir->filePath(QStringLiteral("out"));
    w->txtPath->setText(out);
    w->cmbOF->setCurrentIndex(2);
    w->appendFiles({clip});
    QSignalSpy started(w->scheduler(), &BatchScheduler::toolStarted);
    w->Command3->click();
    QVERIFY(started.wait(30000));
    QTest::qWait(500);
    w->imgExit_Click();
    QVERIFY(!w->isVisible());
    QVERIFY(!w->scheduler()->isBusy());
    QVERIFY(SettingsFiles::readFile(m_places.setupIni()).has_value());
    // No tool or ffmpeg of this conversion is running, and nothing is left in the folder.
    QCOMPARE(processesMentioning({out}), QStringList());
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
