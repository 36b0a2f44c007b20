#include "RecordingMessageSink.h"
#include "SkinPixels.h"
#include "options/frmOptions.h"
#include "process/SettingsFiles.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using SettingsFiles::OptionsValues;

Q_DECLARE_METATYPE(OptionsValues)

namespace {

// Counts the presses that would have started a window move, since the offscreen platform has
// no window manager to move anything.
class MoveCountingOptions : public frmOptions
{
public:
    using frmOptions::frmOptions;
    int moves = 0;

protected:
    bool startSurfaceMove() override
    {
        ++moves;
        return true;
    }
};

OptionsValues options(int soundPrompt, int musicCutter, int cutStart, int cutEnd)
{
    OptionsValues values;
    values.SoundPrompt = qint16(soundPrompt);
    values.MusicCutter = qint16(musicCutter);
    values.CutStart = cutStart;
    values.CutEnd = cutEnd;
    return values;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void writeAll(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QList<QLineEdit *> timeBoxes(const frmOptions &dialog)
{
    return {dialog.txtFromH, dialog.txtFromM, dialog.txtFromS,
            dialog.txtToH,   dialog.txtToM,   dialog.txtToS};
}

QStringList texts(const QList<QLineEdit *> &boxes)
{
    QStringList result;
    for (const QLineEdit *box : boxes)
        result.append(box->text());
    return result;
}

// Types into a box the way a user would: select what is there and type over it.
void typeInto(QLineEdit *box, const QString &text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

void showActive(QWidget *dialog)
{
    dialog->show();
    QApplication::setActiveWindow(dialog);
    QVERIFY(QTest::qWaitForWindowActive(dialog));
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void controls();
    void opening_data();
    void opening();
    void tickingEnablesTimeBoxes();
    void timeBoxesSayWhatTheyHold_data();
    void timeBoxesSayWhatTheyHold();
    void openSoundListHighlightsItsItem_data();
    void openSoundListHighlightsItsItem();
    void refusedTimes_data();
    void refusedTimes();
    void accepted_data();
    void accepted();
    void leaving_data();
    void leaving();
    void unwritableFileKeepsValuesInMemory();
    void dragging_data();
    void dragging();
    void screenshot();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_ini;
};

void TestOptions::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ini = m_dir->filePath(QStringLiteral("options.ini"));
}

void TestOptions::controls()
{
    OptionsValues values;
    RecordingMessageSink messages;
    frmOptions dialog(values, m_ini, &messages);

    QCOMPARE(dialog.windowTitle(), QStringLiteral("选项设置"));
    QCOMPARE(dialog.objectName(), QStringLiteral("frmOptions"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("Label1")), dialog.Label1);
    QCOMPARE(dialog.Label1->text(), QStringLiteral("转换完毕声音提示"));
    QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("cmbSR")), dialog.cmbSR);
    QCOMPARE(dialog.cmbSR->count(), 2);
    QCOMPARE(dialog.cmbSR->itemText(0), QStringLiteral("ON"));
    QCOMPARE(dialog.cmbSR->itemText(1), QStringLiteral("OFF"));
    QVERIFY(!dialog.cmbSR->isEditable());
    QCOMPARE(dialog.findChild<QCheckBox *>(QStringLiteral("chkMC")), dialog.chkMC);
    QCOMPARE(dialog.chkMC->text(), QStringLiteral("Music Cutter"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("Command1")), dialog.Command1);
    QCOMPARE(dialog.Command1->text(), QStringLiteral("确定"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("Command2")), dialog.Command2);
    QCOMPARE(dialog.Command2->text(), QStringLiteral("返回"));
    const QStringList names = {QStringLiteral("txtFromH"), QStringLiteral("txtFromM"),
                               QStringLiteral("txtFromS"), QStringLiteral("txtToH"),
                               QStringLiteral("txtToM"),   QStringLiteral("txtToS")};
    const QList<QLineEdit *> boxes = timeBoxes(dialog);
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(dialog.findChild<QLineEdit *>(names[i]), boxes[i]);

    // Every control lies inside the fixed window and no two of them overlap.
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    const QList<QWidget *> widgets = dialog.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(widgets.size(), 11);
    for (const QWidget *widget : widgets) {
        QVERIFY2(dialog.rect().contains(widget->geometry()), qPrintable(widget->objectName()));
        for (const QWidget *other : widgets) {
            if (other != widget)
                QVERIFY2(!widget->geometry().intersects(other->geometry()),
                         qPrintable(widget->objectName() + " / " + other->objectName()));
        }
    }
    // The captions fit their controls at the dialog's font.
    QVERIFY(dialog.Label1->width() >=
            dialog.Label1->fontMetrics().horizontalAdvance(dialog.Label1->text()));
    QVERIFY(dialog.chkMC->width() >= dialog.chkMC->sizeHint().width());
}

void TestOptions::opening_data()
{
    QTest::addColumn<OptionsValues>("values");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QStringList>("times");

    QTest::newRow("3725 and 0") << options(0, 1, 3725, 0) << 0 << true
                                << QStringList{"1", "2", "5", "0", "0", "0"};
    QTest::newRow("OFF with a long end")
        << options(1, 1, 59, 86399) << 1 << true << QStringList{"0", "0", "59", "23", "59", "59"};
    QTest::newRow("cutter off shows zeros")
        << options(0, 0, 3725, 7200) << 0 << false << QStringList{"0", "0", "0", "0", "0", "0"};
    QTest::newRow("damaged cutter value")
        << options(0, 2, 3725, 7200) << 0 << false << QStringList{"0", "0", "0", "0", "0", "0"};
    QTest::newRow("damaged sound prompt 5")
        << options(5, 0, 0, 0) << -1 << false << QStringList{"0", "0", "0", "0", "0", "0"};
    QTest::newRow("sound prompt -1")
        << options(-1, 0, 0, 0) << -1 << false << QStringList{"0", "0", "0", "0", "0", "0"};
    QTest::newRow("negative start splits by floor")
        << options(0, 1, -1, -3725) << 0 << true << QStringList{"-1", "59", "59", "-2", "57", "55"};
}

void TestOptions::opening()
{
    QFETCH(OptionsValues, values);
    QFETCH(int, index);
    QFETCH(bool, ticked);
    QFETCH(QStringList, times);

    const OptionsValues before = values;
    RecordingMessageSink messages;
    frmOptions dialog(values, m_ini, &messages);
    dialog.show();

    QCOMPARE(dialog.cmbSR->currentIndex(), index);
    QCOMPARE(dialog.chkMC->isChecked(), ticked);
    QCOMPARE(texts(timeBoxes(dialog)), times);
    for (const QLineEdit *box : timeBoxes(dialog))
        QVERIFY2(box->isEnabled() == ticked, qPrintable(box->objectName()));
    // Opening reads the values and writes nothing.
    QCOMPARE(values.SoundPrompt, before.SoundPrompt);
    QCOMPARE(values.CutStart, before.CutStart);
    QVERIFY(!QFile::exists(m_ini));
    QVERIFY(messages.messages.isEmpty());
}

void TestOptions::tickingEnablesTimeBoxes()
{
    OptionsValues values = options(0, 0, 3725, 0);
    RecordingMessageSink messages;
    frmOptions dialog(values, m_ini, &messages);
    showActive(&dialog);

    QTest::mouseClick(dialog.chkMC, Qt::LeftButton);
    QVERIFY(dialog.chkMC->isChecked());
    for (const QLineEdit *box : timeBoxes(dialog))
        QVERIFY2(box->isEnabled(), qPrintable(box->objectName()));
    // Ticking does not bring back the stored times; the boxes keep their text.
    QCOMPARE(texts(timeBoxes(dialog)), (QStringList{"0", "0", "0", "0", "0", "0"}));

    typeInto(dialog.txtFromM, QStringLiteral("7"));
    QTest::mouseClick(dialog.chkMC, Qt::LeftButton);
    QVERIFY(!dialog.chkMC->isChecked());
    for (const QLineEdit *box : timeBoxes(dialog))
        QVERIFY2(!box->isEnabled(), qPrintable(box->objectName()));
    QCOMPARE(dialog.txtFromM->text(), QStringLiteral("7"));
}

void TestOptions::timeBoxesSayWhatTheyHold_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("start hours") << "txtFromH"
                                 << "开始：时";
    QTest::newRow("start minutes") << "txtFromM"
                                   << "开始：分";
    QTest::newRow("start seconds") << "txtFromS"
                                   << "开始：秒";
    QTest::newRow("end hours") << "txtToH"
                               << "结束：时";
    QTest::newRow("end minutes") << "txtToM"
                                 << "结束：分";
    QTest::newRow("end seconds") << "txtToS"
                                 << "结束：秒";
}

void TestOptions::timeBoxesSayWhatTheyHold()
{
    QFETCH(QString, box);
    QFETCH(QString, toolTip);
    OptionsValues values;
    RecordingMessageSink messages;
    frmOptions dialog(values, m_ini, &messages);
    const QLineEdit *edit = dialog.findChild<QLineEdit *>(box);
    QVERIFY(edit);
    QCOMPARE(edit->toolTip(), toolTip);
}

void TestOptions::openSoundListHighlightsItsItem_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("ON") << 0;
    QTest::newRow("OFF") << 1;
}

// The open ON/OFF list paints its highlighted item as a coloured bar with light text on it.
void TestOptions::openSoundListHighlightsItsItem()
{
    QFETCH(int, row);
    QVERIFY(SkinPixels::applyShippedSkin());
    OptionsValues values;
    RecordingMessageSink messages;
    frmOptions dialog(values, m_ini, &messages);
    showActive(&dialog);
    dialog.cmbSR->showPopup();
    QAbstractItemView *view = dialog.cmbSR->view();
    QTRY_VERIFY(view->isVisible());
    view->setCurrentIndex(view->model()->index(row, 0));
    const QRect bar = view->visualRect(view->currentIndex());
    const QImage image = view->viewport()->grab().toImage();
    const QColor highlight(0x2f, 0x6d, 0xb8);
    const double share = SkinPixels::shareOf(image, bar, highlight);
    dialog.cmbSR->hidePopup();
    qApp->setStyleSheet(QString());
    QVERIFY2(share > 0.5, qPrintable(QString::number(share)));
    QVERIFY(SkinPixels::countUnlike(image, bar, highlight, 100) > 10);
    QVERIFY(SkinPixels::shareOf(image, view->visualRect(view->model()->index(1 - row, 0)),
                                Qt::white) > 0.5);
}

void TestOptions::refusedTimes_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QStringList>("times");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("focus");

    const QString minutes = QStringLiteral("分钟");
    const QString minutesText = QStringLiteral("分钟必须小于60");
    const QString seconds = QStringLiteral("秒");
    const QString secondsText = QStringLiteral("秒必须小于60");

    QTest::newRow("60 start minutes") << true << QStringList{"0", "60", "0", "0", "0", "0"}
                                      << minutes << minutesText << "txtFromM";
    QTest::newRow("60 end minutes")
        << true << QStringList{"0", "0", "0", "0", "60", "0"} << minutes << minutesText << "txtToM";
    QTest::newRow("60 start seconds") << true << QStringList{"0", "0", "60", "0", "0", "0"}
                                      << seconds << secondsText << "txtFromS";
    QTest::newRow("59.5 end seconds") << true << QStringList{"0", "0", "0", "0", "0", "59.5"}
                                      << seconds << secondsText << "txtToS";
    QTest::newRow("75 minutes and seconds shows minutes only")
        << true << QStringList{"0", "75", "75", "0", "0", "0"} << minutes << minutesText
        << "txtFromM";
    QTest::newRow("end minutes before start seconds")
        << true << QStringList{"0", "0", "99", "0", "61", "0"} << minutes << minutesText
        << "txtToM";
    QTest::newRow("leading number 60abc") << true << QStringList{"0", "0", "0", "0", "0", "60abc"}
                                          << seconds << secondsText << "txtToS";
    // Disabled boxes are checked too; they cannot take the focus, so it stays where it was.
    QTest::newRow("disabled box") << false << QStringList{"0", "0", "0", "0", "61", "0"} << minutes
                                  << minutesText << "Command1";
}

void TestOptions::refusedTimes()
{
    QFETCH(bool, ticked);
    QFETCH(QStringList, times);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(QString, focus);

    const QByteArray stored = "1\r\n1\r\n3725\r\n0\r\n";
    writeAll(m_ini, stored);
    OptionsValues values = options(1, ticked ? 1 : 0, 3725, 0);
    RecordingMessageSink messages;
    frmOptions dialog(values, m_ini, &messages);
    QSignalSpy finished(&dialog, &QDialog::finished);
    showActive(&dialog);

    const QList<QLineEdit *> boxes = timeBoxes(dialog);
    for (int i = 0; i < boxes.size(); ++i) {
        if (ticked)
            typeInto(boxes[i], times[i]);
        else
            boxes[i]->setText(times[i]);
    }
    dialog.cmbSR->setCurrentIndex(0);
    QTest::mouseClick(dialog.Command1, Qt::LeftButton);

    QCOMPARE(messages.messages.size(), 1);
    QCOMPARE(messages.messages[0].icon, MessageSink::Icon::Exclamation);
    QCOMPARE(messages.messages[0].caption, caption);
    QCOMPARE(messages.messages[0].text, text);
    QVERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QVERIFY(dialog.isVisible());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(values.SoundPrompt, qint16(1));
    QCOMPARE(values.MusicCutter, qint16(ticked ? 1 : 0));
    QCOMPARE(values.CutStart, 3725);
    QCOMPARE(values.CutEnd, 0);
    QCOMPARE(readAll(m_ini), stored);
}

void TestOptions::accepted_data()
{
    QTest::addColumn<OptionsValues>("values");
    QTest::addColumn<int>("choice"); // index to choose in cmbSR, or -2 to leave it alone
    QTest::addColumn<QStringList>("times");
    QTest::addColumn<OptionsValues>("expected");
    QTest::addColumn<bool>("tickedAfter");
    QTest::addColumn<QByteArray>("file");

    const QStringList unchanged;
    QTest::newRow("59 minutes passes")
        << options(0, 1, 0, 0) << -2 << QStringList{"0", "59", "0", "0", "59", "59"}
        << options(0, 1, 3540, 3599) << true << QByteArray("0\r\n1\r\n3540\r\n3599\r\n");
    QTest::newRow("all zero unticks")
        << options(0, 1, 3725, 60) << -2 << QStringList{"0", "0", "0", "0", "0", "0"}
        << options(0, 0, 0, 0) << false << QByteArray("0\r\n0\r\n0\r\n0\r\n");
    QTest::newRow("1.5 hours") << options(0, 1, 0, 0) << -2
                               << QStringList{"1.5", "0", "0", "0", "0", "0"}
                               << options(0, 1, 5400, 0) << true
                               << QByteArray("0\r\n1\r\n5400\r\n0\r\n");
    QTest::newRow("OFF saves 1") << options(0, 1, 3725, 0) << 1 << unchanged
                                 << options(1, 1, 3725, 0) << true
                                 << QByteArray("1\r\n1\r\n3725\r\n0\r\n");
    QTest::newRow("ON saves 0") << options(1, 0, 0, 0) << 0 << unchanged << options(0, 0, 0, 0)
                                << false << QByteArray("0\r\n0\r\n0\r\n0\r\n");
    QTest::newRow("damaged 5 saves -1")
        << options(5, 1, 3725, 0) << -2 << unchanged << options(-1, 1, 3725, 0) << true
        << QByteArray("-1\r\n1\r\n3725\r\n0\r\n");
    QTest::newRow("negative passes")
        << options(0, 1, 0, 0) << -2 << QStringList{"0", "-90", "-5", "0", "0", "0"}
        << options(0, 1, -5405, 0) << true << QByteArray("0\r\n1\r\n-5405\r\n0\r\n");
    QTest::newRow("hours are not checked")
        << options(0, 1, 0, 0) << -2 << QStringList{"100", "0", "0", "250", "0", "0"}
        << options(0, 1, 360000, 900000) << true << QByteArray("0\r\n1\r\n360000\r\n900000\r\n");
    QTest::newRow("halves go to even")
        << options(0, 1, 0, 0) << -2 << QStringList{"0", "0", "2.5", "0", "0", "3.5"}
        << options(0, 1, 2, 4) << true << QByteArray("0\r\n1\r\n2\r\n4\r\n");
    QTest::newRow("half a second keeps the cutter")
        << options(0, 1, 0, 0) << -2 << QStringList{"0", "0", "0.5", "0", "0", "0"}
        << options(0, 1, 0, 0) << true << QByteArray("0\r\n1\r\n0\r\n0\r\n");
    QTest::newRow("leading numbers")
        << options(0, 1, 0, 0) << -2 << QStringList{"1h", "12abc", "abc", " 2", "3.", ".5x"}
        << options(0, 1, 4320, 7380) << true << QByteArray("0\r\n1\r\n4320\r\n7380\r\n");
    QTest::newRow("stored times come back unchanged")
        << options(1, 1, 3725, 7384) << -2 << unchanged << options(1, 1, 3725, 7384) << true
        << QByteArray("1\r\n1\r\n3725\r\n7384\r\n");
    // With the cutter off the boxes show 0, and those zeros are what OK stores.
    QTest::newRow("cutter off clears stored times")
        << options(0, 0, 3725, 100) << -2 << unchanged << options(0, 0, 0, 0) << false
        << QByteArray("0\r\n0\r\n0\r\n0\r\n");
    // A time too large for the stored number keeps the value it had.
    QTest::newRow("too large keeps old value")
        << options(0, 1, 10, 20) << -2 << QStringList{"999999", "0", "0", "1", "0", "0"}
        << options(0, 1, 10, 3600) << true << QByteArray("0\r\n1\r\n10\r\n3600\r\n");
}

void TestOptions::accepted()
{
    QFETCH(OptionsValues, values);
    QFETCH(int, choice);
    QFETCH(QStringList, times);
    QFETCH(OptionsValues, expected);
    QFETCH(bool, tickedAfter);
    QFETCH(QByteArray, file);

    writeAll(m_ini, "stale content that must be replaced\r\n");
    RecordingMessageSink messages;
    frmOptions dialog(values, m_ini, &messages);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    showActive(&dialog);

    if (choice != -2)
        dialog.cmbSR->setCurrentIndex(choice);
    const QList<QLineEdit *> boxes = timeBoxes(dialog);
    for (int i = 0; i < times.size(); ++i)
        typeInto(boxes[i], times[i]);
    QTest::mouseClick(dialog.Command1, Qt::LeftButton);

    QVERIFY(messages.messages.isEmpty());
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.chkMC->isChecked(), tickedAfter);
    QCOMPARE(values.SoundPrompt, expected.SoundPrompt);
    QCOMPARE(values.MusicCutter, expected.MusicCutter);
    QCOMPARE(values.CutStart, expected.CutStart);
    QCOMPARE(values.CutEnd, expected.CutEnd);
    QCOMPARE(readAll(m_ini), file);
}

void TestOptions::leaving_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("fileExists");

    QTest::newRow("back button") << "Command2" << true;
    QTest::newRow("back button, no file") << "Command2" << false;
    QTest::newRow("window close") << "close" << true;
    QTest::newRow("escape key") << "escape" << true;
}

void TestOptions::leaving()
{
    QFETCH(QString, how);
    QFETCH(bool, fileExists);

    const QByteArray stored = "0\r\n1\r\n3725\r\n7384\r\n";
    if (fileExists)
        writeAll(m_ini, stored);
    OptionsValues values = options(0, 1, 3725, 7384);
    RecordingMessageSink messages;
    {
        frmOptions dialog(values, m_ini, &messages);
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        showActive(&dialog);

        dialog.cmbSR->setCurrentIndex(1);
        typeInto(dialog.txtFromH, QStringLiteral("9"));
        typeInto(dialog.txtToS, QStringLiteral("0"));
        QTest::mouseClick(dialog.chkMC, Qt::LeftButton);

        if (how == QLatin1String("Command2"))
            QTest::mouseClick(dialog.Command2, Qt::LeftButton);
        else if (how == QLatin1String("close"))
            QVERIFY(dialog.close());
        else
            QTest::keyClick(&dialog, Qt::Key_Escape);

        QCOMPARE(rejected.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }
    QCOMPARE(values.SoundPrompt, qint16(0));
    QCOMPARE(values.MusicCutter, qint16(1));
    QCOMPARE(values.CutStart, 3725);
    QCOMPARE(values.CutEnd, 7384);
    if (fileExists)
        QCOMPARE(readAll(m_ini), stored);
    else
        QVERIFY(!QFile::exists(m_ini));
    QVERIFY(messages.messages.isEmpty());

    // The next opening shows the stored values again.
    frmOptions reopened(values, m_ini, &messages);
    QCOMPARE(reopened.cmbSR->currentIndex(), 0);
    QVERIFY(reopened.chkMC->isChecked());
    QCOMPARE(texts(timeBoxes(reopened)), (QStringList{"1", "2", "5", "2", "3", "4"}));
}

void TestOptions::unwritableFileKeepsValuesInMemory()
{
    // A plain file where the folder should be: options.ini cannot be written below it.
    const QString blocker = m_dir->filePath(QStringLiteral("blocker"));
    writeAll(blocker, "x");
    const QString ini = blocker + QStringLiteral("/options.ini");

    OptionsValues values = options(0, 1, 3725, 0);
    RecordingMessageSink messages;
    frmOptions dialog(values, ini, &messages);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    showActive(&dialog);
    dialog.cmbSR->setCurrentIndex(1);
    typeInto(dialog.txtToM, QStringLiteral("3"));
    QTest::mouseClick(dialog.Command1, Qt::LeftButton);

    QCOMPARE(accepted.count(), 1);
    QVERIFY(messages.messages.isEmpty());
    QVERIFY(!QFile::exists(ini));
    QCOMPARE(values.SoundPrompt, qint16(1));
    QCOMPARE(values.CutStart, 3725);
    QCOMPARE(values.CutEnd, 180);
}

void TestOptions::dragging_data()
{
    QTest::addColumn<QString>("target"); // a control's name, or empty for the free surface
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("moves");

    QTest::newRow("left on the surface") << QString() << Qt::LeftButton << 1;
    QTest::newRow("right on the surface") << QString() << Qt::RightButton << 0;
    QTest::newRow("left on a label") << "Label1" << Qt::LeftButton << 0;
    QTest::newRow("left on a disabled box") << "txtFromH" << Qt::LeftButton << 0;
    QTest::newRow("left on the list") << "cmbSR" << Qt::LeftButton << 0;
    QTest::newRow("left on the check box") << "chkMC" << Qt::LeftButton << 0;
}

void TestOptions::dragging()
{
    QFETCH(QString, target);
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, moves);

    OptionsValues values;
    RecordingMessageSink messages;
    MoveCountingOptions dialog(values, m_ini, &messages);
    showActive(&dialog);

    QWidget *widget = &dialog;
    QPoint point(4, 4);
    if (!target.isEmpty()) {
        widget = dialog.findChild<QWidget *>(target);
        QVERIFY(widget);
        point = widget->rect().center();
    }
    if (target.isEmpty())
        QVERIFY(!dialog.childAt(point));
    QTest::mousePress(widget, button, {}, point);
    QTest::mouseRelease(widget, button, {}, point);
    QCOMPARE(dialog.moves, moves);
}

void TestOptions::screenshot()
{
    OptionsValues values = options(0, 1, 3725, 7384);
    RecordingMessageSink messages;
    frmOptions dialog(values, m_ini, &messages);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(QDir().mkpath(QStringLiteral(VIDMORPH_SCREENSHOT_DIR)));
    const QString path = QStringLiteral(VIDMORPH_SCREENSHOT_DIR "/options.png");
    QFile::remove(path);
    const QPixmap picture = dialog.grab();
    QCOMPARE(picture.size() / picture.devicePixelRatio(), dialog.size());
    QVERIFY(picture.save(path));
    QVERIFY(QFileInfo(path).size() > 0);
}

QTEST_MAIN(TestOptions)
#include "test_options.moc"
