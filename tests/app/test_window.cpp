#include "ProcessTable.h"
#include "SkinPixels.h"
#include "TestMedia.h"
#include "WindowFixture.h"
#include "app/MessageBoxSink.h"
#include "app/QtTranslation.h"
#include "convert/BatchScheduler.h"
#include "dialogs/FileDialogs.h"
#include "process/SettingsFiles.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
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
    void helpKey_data();
    void helpKey();
    void feedbackLinkOffDuringABatch();
    void openListHighlightsItsItem_data();
    void openListHighlightsItsItem();
    void openListShowsWholeItems_data();
    void openListShowsWholeItems();
    void startButtonLookIsItsOwn();
    void qtTextsInChinese_data();
    void qtTextsInChinese();
    void messageBoxesShowTheirWholeCaption_data();
    void messageBoxesShowTheirWholeCaption();
    void browseForOutputFolder();
    void dialogsOpenModally_data();
    void dialogsOpenModally();
    void exitWritesSetupIni_data();
    void exitWritesSetupIni();
    void closeRemovesScratchFilesWithoutSaving();
    void exitDuringConversionLeavesNothingBehind();

private:
    std::unique_ptr<frmMain> window();
    static QImage picture(const char *icon, QSize size);
    void expectUnlit(const frmMain &w);
    void move(QWidget *widget, QPoint at = QPoint(2, 2));
    void click(QWidget *widget);

    WindowFixture m_fixture;
    const Locations &m_places = m_fixture.places;
    RecordingDesktopServices &m_desktop = m_fixture.desktop;
};

void TestWindow::init()
{
    m_fixture.reset();
}

std::unique_ptr<frmMain> TestWindow::window()
{
    auto w = m_fixture.load();
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

QImage TestWindow::picture(const char *icon, QSize size)
{
    return QIcon(QLatin1String(icon)).pixmap(size).toImage();
}

// Every corner button shows its quiet picture: there to be seen, not lit.
void TestWindow::expectUnlit(const frmMain &w)
{
    QCOMPARE(w.imgHelp->pixmap().toImage(), picture(":/icons/help.svg", QSize(12, 17)));
    QCOMPARE(w.imgMin->pixmap().toImage(), picture(":/icons/min.svg", QSize(14, 14)));
    QCOMPARE(w.imgExit->pixmap().toImage(), picture(":/icons/exit-corner.svg", QSize(14, 13)));
    for (const QLabel *button : {w.imgHelp, w.imgMin, w.imgExit})
        QVERIFY2(!w.isLit(button), qPrintable(button->objectName()));
}

void TestWindow::cornerButtonsLightAndGoOut()
{
    auto w = window();
    expectUnlit(*w);
    QVERIFY(!w->lblFeed->font().bold());
    move(w->imgHelp);
    move(w->imgMin);
    move(w->imgExit);
    move(w->lblFeed);
    QCOMPARE(w->imgHelp->pixmap().toImage(), picture(":/icons/help-light.svg", QSize(12, 17)));
    QCOMPARE(w->imgMin->pixmap().toImage(), picture(":/icons/min-light.svg", QSize(14, 14)));
    QCOMPARE(w->imgExit->pixmap().toImage(), picture(":/icons/exit-light.svg", QSize(14, 13)));
    for (QLabel *button : {w->imgHelp, w->imgMin, w->imgExit})
        QVERIFY(w->isLit(button));
    QVERIFY(w->lblFeed->font().bold());
    // Leaving a button for another control, or the window, keeps it lit.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w->imgExit, &leave);
    move(w->cmbOF);
    QVERIFY(w->isLit(w->imgExit));
    // A move over the window's own surface puts them all out.
    move(w.get(), QPoint(600, 40));
    expectUnlit(*w);
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
    expectUnlit(*w);
}

void TestWindow::helpAndWebLinks()
{
    auto w = window();
    move(w->imgHelp);
    click(w->imgHelp);
    QCOMPARE(m_desktop.opened, QStringList{QStringLiteral(VIDMORPH_APP_DIR "/help.html")});
    QVERIFY(QFile::exists(m_desktop.opened.first()));
    expectUnlit(*w);
    click(w->lblWeb);
    QCOMPARE(m_desktop.opened.last(), frmMain::homePage());
    QCOMPARE(m_desktop.told, QStringList()); // the help and the web links open quietly
    QVERIFY(frmMain::homePage().startsWith(QLatin1String("http")));
}

void TestWindow::helpKey_data()
{
    QTest::addColumn<QString>("focus"); // the control that has the keyboard; "" for none
    QTest::newRow("nothing focused") << "";
    QTest::newRow("typing in a parameter list") << "cmbVB";
    QTest::newRow("in the file list") << "LV";
    QTest::newRow("in the folder box") << "txtPath";
}

void TestWindow::helpKey()
{
    QFETCH(QString, focus);
    auto w = window();
    QApplication::setActiveWindow(w.get());
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QWidget *target = w.get();
    if (!focus.isEmpty()) {
        target = w->findChild<QWidget *>(focus);
        QVERIFY(target);
        target->setFocus();
        if (auto *list = qobject_cast<QComboBox *>(target))
            target = list->lineEdit();
    }
    move(w->imgHelp);
    QTest::keyClick(target, Qt::Key_F1);
    QCOMPARE(m_desktop.opened, QStringList{QStringLiteral(VIDMORPH_APP_DIR "/help.html")});
    // As a click on the help button does, F1 leaves the button unlit.
    expectUnlit(*w);
}

void TestWindow::feedbackLinkOffDuringABatch()
{
    QVERIFY(SkinPixels::applyShippedSkin());
    auto w = window();
    const QColor linkBlue(0x1f, 0x5a, 0xa6);
    auto blueShare = [&] {
        const QImage image = w->lblFeed->grab().toImage();
        return SkinPixels::shareOf(image, image.rect(), linkBlue, 40);
    };
    QVERIFY2(blueShare() > 0.02, "an enabled link is drawn in the link colour");
    // The window's batch lock disables the link; a disabled link does not look like one.
    w->lblFeed->setEnabled(false);
    QCOMPARE(w->lblFeed->cursor().shape(), Qt::ArrowCursor);
    move(w->lblFeed);
    QVERIFY(!w->lblFeed->font().bold());
    QCOMPARE(blueShare(), 0.0);
    QVERIFY(SkinPixels::countUnlike(w->lblFeed->grab().toImage(), w->lblFeed->rect(),
                                    w->palette().color(QPalette::Window), 40) > 0);
    int opened = 0;
    QTimer::singleShot(0, this, [&] {
        if (QApplication::activeModalWidget()) {
            ++opened;
            QApplication::activeModalWidget()->close();
        }
    });
    click(w->lblFeed);
    QTest::qWait(50);
    QCOMPARE(opened, 0);
    w->lblFeed->setEnabled(true);
    QCOMPARE(w->lblFeed->cursor().shape(), Qt::PointingHandCursor);
    move(w->lblFeed);
    QVERIFY(w->lblFeed->font().bold());
}

void TestWindow::openListHighlightsItsItem_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("row");
    QTest::newRow("output formats, a pick list") << "cmbOF" << 3;
    QTest::newRow("video bitrate, editable") << "cmbVB" << 5;
    QTest::newRow("channels, two items") << "cmbChannel" << 0;
}

// The open list paints its highlighted item as a coloured bar with light text on it.
void TestWindow::openListHighlightsItsItem()
{
    QFETCH(QString, list);
    QFETCH(int, row);
    QVERIFY(SkinPixels::applyShippedSkin());
    auto w = window();
    auto *combo = w->findChild<QComboBox *>(list);
    QVERIFY(combo);
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QTRY_VERIFY(view->isVisible());
    view->setCurrentIndex(view->model()->index(row, combo->modelColumn()));
    const QModelIndex highlighted = view->currentIndex();
    QCOMPARE(highlighted.row(), row);
    const QRect bar = view->visualRect(highlighted);
    QVERIFY(!bar.isEmpty());
    const QImage image = view->viewport()->grab().toImage();
    const QColor highlight(0x2f, 0x6d, 0xb8);
    const double share = SkinPixels::shareOf(image, bar, highlight);
    QVERIFY2(share > 0.5, qPrintable(QString::number(share)));
    // The item's text stands out from the bar.
    const int text = SkinPixels::countUnlike(image, bar, highlight, 100);
    QVERIFY2(text > 10, qPrintable(QString::number(text)));
    // Other items stay light, with dark text.
    const QRect other = view->visualRect(view->model()->index(row == 0 ? 1 : 0, 0));
    QVERIFY(SkinPixels::shareOf(image, other, Qt::white) > 0.5);
    combo->hidePopup();
}

void TestWindow::openListShowsWholeItems_data()
{
    QTest::addColumn<QString>("list");
    QTest::newRow("output formats") << "cmbOF";
    QTest::newRow("frame sizes") << "cmbS";
    QTest::newRow("audio bitrates") << "cmbBR";
}

// No item's text runs into the open list's right edge, where it would be cut.
void TestWindow::openListShowsWholeItems()
{
    QFETCH(QString, list);
    QVERIFY(SkinPixels::applyShippedSkin());
    auto w = window();
    auto *combo = w->findChild<QComboBox *>(list);
    QVERIFY(combo);
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QTRY_VERIFY(view->isVisible());
    const QImage image = view->viewport()->grab().toImage();
    for (int row = 0; row < combo->count(); ++row) {
        const QRect item = view->visualRect(view->model()->index(row, combo->modelColumn()))
                               .intersected(view->viewport()->rect());
        // The last pixel column may stay the list's own white beside a highlight bar.
        const QRect edge(item.right() - 4, item.top() + 1, 4, item.height() - 2);
        const QColor background = image.pixelColor(edge.right(), edge.top());
        QVERIFY2(SkinPixels::countUnlike(image, edge, background, 60) == 0,
                 qPrintable(combo->itemText(row)));
    }
    combo->hidePopup();
}

void TestWindow::startButtonLookIsItsOwn()
{
    QVERIFY(SkinPixels::applyShippedSkin());
    auto w = window();
    const QImage image = w->Command3->grab().toImage();
    const QRect middle(image.width() / 10, image.height() / 3, image.width() / 20,
                       image.height() / 3);
    // The start button's blue; the feedback form's send button, of the same name, keeps the
    // plain look (tested with the form).
    const double blue = SkinPixels::shareOf(image, middle, QColor(0x2a, 0x65, 0xb3), 40);
    QVERIFY2(blue > 0.5, qPrintable(QString::number(blue)));
}

void TestWindow::qtTextsInChinese_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::newRow("message box OK") << "message box"
                                    << "OK"
                                    << "确定";
    QTest::newRow("message box Cancel") << "message box"
                                        << "Cancel"
                                        << "取消";
    QTest::newRow("file dialog Open") << "file dialog"
                                      << "accept"
                                      << "打开";
    QTest::newRow("file dialog Cancel") << "file dialog"
                                        << "reject"
                                        << "取消";
    QTest::newRow("file dialog Look in") << "file dialog"
                                         << "lookInLabel"
                                         << "查找范围";
    QTest::newRow("file dialog File name") << "file dialog"
                                           << "fileNameLabel"
                                           << "文件名";
    QTest::newRow("folder dialog Choose") << "folder dialog"
                                          << "accept"
                                          << "选择";
}

void TestWindow::qtTextsInChinese()
{
    QFETCH(QString, dialog);
    QFETCH(QString, control);
    QFETCH(QString, text);
    static const bool installed = QtTranslation::install(qApp);
    QVERIFY2(installed, "qtbase_zh_CN.qm from qt6-translations-l10n");
    QString shown;
    if (dialog == QLatin1String("message box")) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("添加"), QStringLiteral("请先添加"),
                        QMessageBox::Ok | QMessageBox::Cancel);
        shown = box.button(control == QLatin1String("OK") ? QMessageBox::Ok : QMessageBox::Cancel)
                    ->text();
    } else {
        // Qt's own dialog, as on a desktop without a native one.
        QFileDialog files(nullptr, QStringLiteral("Open Files"), QDir::tempPath());
        files.setOption(QFileDialog::DontUseNativeDialog);
        if (dialog == QLatin1String("folder dialog"))
            files.setFileMode(QFileDialog::Directory);
        if (control == QLatin1String("accept") || control == QLatin1String("reject")) {
            auto *buttons = files.findChild<QDialogButtonBox *>();
            QVERIFY(buttons);
            for (QAbstractButton *button : buttons->buttons())
                if ((buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) ==
                    (control == QLatin1String("accept")))
                    shown = button->text();
        } else {
            auto *label = files.findChild<QLabel *>(control);
            QVERIFY(label);
            shown = label->text();
        }
    }
    QVERIFY2(shown.contains(text), qPrintable(shown));
}

void TestWindow::messageBoxesShowTheirWholeCaption_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty list") << "添加"
                                << "请先添加一个文件";
    QTest::newRow("minutes") << "分钟"
                             << "分钟必须小于60";
    QTest::newRow("seconds") << "秒"
                             << "秒必须小于60";
    QTest::newRow("tool missing") << "Vidmorph"
                                  << "File or command not found";
    QTest::newRow("caption longer than the text") << "输出文件夹无法创建，请选择另一个文件夹"
                                                  << "无法转换";
}

void TestWindow::messageBoxesShowTheirWholeCaption()
{
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok);
    MessageBoxSink::fitCaption(box);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.windowTitle(), caption);
    // Room for the caption in a bold title font, the window's icon and three title buttons.
    QFont bold = box.font();
    bold.setBold(true);
    const int captionWidth = QFontMetrics(bold).horizontalAdvance(caption);
    QVERIFY2(box.width() >= captionWidth + 100,
             qPrintable(QStringLiteral("%1 < %2 + 100").arg(box.width()).arg(captionWidth)));
    // The text is not cut either.
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label);
    QVERIFY(label->width() >= label->minimumSizeHint().width());
    QVERIFY(label->height() >= label->heightForWidth(label->width()));
}

void TestWindow::browseForOutputFolder()
{
    auto w = window();
    const QString folder = m_fixture.path(QStringLiteral("视频 输出"));
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
    const QString clip = m_fixture.path(QStringLiteral("long.mkv"));
    QCOMPARE(TestMedia::make(clip, QSize(640, 360), 30.0, 2), QString());
    auto w = window();
    const QString out = m_fixture.path(QStringLiteral("out"));
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
