#include "WindowFixture.h"
#include "convert/Formats.h"
#include "process/SettingsFiles.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Start-up of the real main window against settings files in a folder of the test's own.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void noSettingsFiles();
    void setupIni_data();
    void setupIni();
    void optionsIni();
    void damagedFiles_data();
    void damagedFiles();
    void exitValuesRoundTrip();
    void formatDefaults_data();
    void formatDefaults();
    void mp3AfterMovKeepsVideoLists();
    void typedValuesAreUsed();
    void typedChannelGivesZeroChannels();
    void itemsOfferedOnlyForTodaysFormats_data();
    void itemsOfferedOnlyForTodaysFormats();
    void defaultOutputFolder_data();
    void defaultOutputFolder();
    void choosingTheSameFormatResetsTheLists();
    void aChangedFormatTakesItsDefaultsOnce_data();
    void aChangedFormatTakesItsDefaultsOnce();
    void everyListStaysUsable_data();
    void everyListStaysUsable();

private:
    std::unique_ptr<frmMain> load();
    // What a user does: opens the format list and picks a row.
    static void choose(QComboBox *list, int row);
    void writeSetting(const QString &name, const QByteArray &content);

    WindowFixture m_fixture;
    Locations &m_places = m_fixture.places;
};

void TestStartup::init()
{
    m_fixture.reset(WindowFixture::AppFolder::Empty);
}

std::unique_ptr<frmMain> TestStartup::load()
{
    return m_fixture.load();
}

void TestStartup::writeSetting(const QString &name, const QByteArray &content)
{
    QVERIFY(SettingsFiles::writeFile(m_places.settingsFolder + QLatin1Char('/') + name, content));
}

void TestStartup::itemsOfferedOnlyForTodaysFormats_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("at"); // where it is offered
    QTest::addColumn<QString>("mpgText");
    QTest::newRow("kept frame rate") << "cmbF" << Formats::keepSourceFrameRate() << 3 << "24";
    QTest::newRow("quality first") << "cmbVB" << Formats::qualityItem() << 0 << "600";
}

// The lists of the formats of old keep their items; a format that can keep the source's rate,
// or let its encoder choose the bitrate, offers that choice while it is chosen.
void TestStartup::itemsOfferedOnlyForTodaysFormats()
{
    QFETCH(QString, list);
    QFETCH(QString, item);
    QFETCH(int, at);
    QFETCH(QString, mpgText);
    auto w = load();
    auto *combo = w->findChild<QComboBox *>(list);
    QVERIFY(combo);
    const auto items = [&] {
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i)
            texts.append(combo->itemText(i));
        return texts;
    };
    const QStringList old =
        Formats::parameterList(list == QLatin1String("cmbF") ? Formats::FrameRate
                                                             : Formats::VideoBitrate)
            .items;
    QCOMPARE(items(), old);
    w->cmbOF->setCurrentIndex(Formats::H264);
    QStringList offered = old;
    offered.insert(at, item);
    QCOMPARE(items(), offered);
    QCOMPARE(combo->currentText(), item);
    QCOMPARE(combo->currentIndex(), at);
    // MP3 leaves the video lists as they are: the text stays, the item goes.
    w->cmbOF->setCurrentIndex(Formats::MP3);
    QCOMPARE(items(), old);
    QCOMPARE(combo->currentText(), item);
    QCOMPARE(combo->currentIndex(), -1);
    w->cmbOF->setCurrentIndex(Formats::MPG);
    QCOMPARE(items(), old);
    QCOMPARE(combo->currentText(), mpgText);
}

void TestStartup::defaultOutputFolder_data()
{
    QTest::addColumn<QString>("copy");
    QTest::addColumn<bool>("besideTheProgram");
    QTest::newRow("run from its own folder") << "portable" << true;
    QTest::newRow("installed") << "installed" << false;
    QTest::newRow("a folder that cannot be written") << "gone" << false;
}

void TestStartup::defaultOutputFolder()
{
    QFETCH(QString, copy);
    QFETCH(bool, besideTheProgram);
    if (copy == QLatin1String("installed"))
        QVERIFY(SettingsFiles::writeFile(m_places.appFolder + QStringLiteral("/installed"), ""));
    else if (copy == QLatin1String("gone"))
        m_places.appFolder = m_fixture.path(QStringLiteral("nowhere"));
    const QString expected = besideTheProgram
                                 ? m_places.appFolder + QStringLiteral("/output")
                                 : QDir::homePath() + QStringLiteral("/Videos/Vidmorph");
    QCOMPARE(m_places.defaultOutputFolder(), expected);
    auto w = load();
    QCOMPARE(w->txtPath->text(), expected);
}

void TestStartup::noSettingsFiles()
{
    auto w = load();
    QCOMPARE(w->windowTitle(), QStringLiteral("Vidmorph"));
    QCOMPARE(w->lblWeb->text(), QStringLiteral("Vidmorph"));
    QCOMPARE(w->cmbOF->currentIndex(), 0);
    QCOMPARE(w->cmbOF->currentText(), QStringLiteral("RMVB(RealPlayerRMVB)"));
    QCOMPARE(w->cmbVB->currentText(), QStringLiteral("1200"));
    QCOMPARE(w->cmbF->currentText(), QStringLiteral("29"));
    QCOMPARE(w->cmbS->currentText(), QStringLiteral("原始大小"));
    QCOMPARE(w->cmbR->currentText(), QStringLiteral("44100"));
    QCOMPARE(w->cmbBR->currentText(), QStringLiteral("320"));
    QCOMPARE(w->cmbChannel->currentText(), QStringLiteral("双声道"));
    QCOMPARE(w->txtPath->text(), m_places.appFolder + QStringLiteral("/output"));
    QCOMPARE(w->options().SoundPrompt, qint16(0));
    QCOMPARE(w->options().MusicCutter, qint16(0));
    QCOMPARE(w->options().CutStart, 0);
    QCOMPARE(w->options().CutEnd, 0);
    QCOMPARE(w->imgPBWidth(), 0.0);
    QCOMPARE(w->lblPB->text(), QStringLiteral("0%"));
    QVERIFY(w->picText->isVisibleTo(w.get()));
    QCOMPARE(w->lblText->text(), QStringLiteral("拖拽文件到这里开始转换"));
    // What Exit would store: "320" is item 13 of the audio bitrate list.
    const SettingsFiles::SetupValues stored = w->setupValues();
    QCOMPARE(stored.audioBitrateIndex, 13);
    QCOMPARE(stored.sampleRateIndex, 1);
    QCOMPARE(stored.channelIndex, 1);
    QCOMPARE(stored.formatIndex, 0);
    QVERIFY(!QFile::exists(m_places.setupIni()));    // start-up writes nothing
    QVERIFY(!QFile::exists(m_places.scratchFolder)); // nor creates folders
}

void TestStartup::setupIni_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("sampleRate");
    QTest::addColumn<QString>("audioBitrate");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("folder"); // "" means the default folder

    QTest::newRow("MP3 restores its defaults over the stored audio indexes")
        << QByteArray("\"2\"\r\n\"5\"\r\n\"0\"\r\n\"/srv/out\"\r\n\"8\"\r\n") << 8 << "48000"
        << "320"
        << "双声道"
        << "/srv/out";
    QTest::newRow("the first format does not run again; stored audio stays")
        << QByteArray("\"5\"\r\n\"3\"\r\n\"0\"\r\n\"/srv/out\"\r\n\"0\"\r\n") << 0 << "24000"
        << "64"
        << "单声道"
        << "/srv/out";
    QTest::newRow("empty folder record gives the default folder")
        << QByteArray("\"13\"\r\n\"1\"\r\n\"1\"\r\n\"\"\r\n\"1\"\r\n") << 1 << "44100"
        << "320"
        << "双声道"
        << "";
    QTest::newRow("three records keep the defaults for the rest")
        << QByteArray("\"5\"\r\n\"3\"\r\n\"0\"\r\n") << 0 << "24000"
        << "64"
        << "单声道"
        << "";
    QTest::newRow("-1 clears the list")
        << QByteArray("\"-1\"\r\n\"1\"\r\n\"1\"\r\n\"/o\"\r\n\"0\"\r\n") << 0 << "44100"
        << ""
        << "双声道"
        << "/o";
    QTest::newRow("AV1, one of today's formats, restores its defaults")
        << QByteArray("\"2\"\r\n\"5\"\r\n\"0\"\r\n\"/srv/out\"\r\n\"11\"\r\n") << 11 << "48000"
        << "96"
        << "双声道"
        << "/srv/out";
    QTest::newRow("index past the end leaves the list")
        << QByteArray("\"14\"\r\n\"8\"\r\n\"2\"\r\n\"/o\"\r\n\"") +
               QByteArray::number(Formats::Count) + "\"\r\n"
        << 0 << "44100"
        << "320"
        << "双声道"
        << "/o";
    QTest::newRow("not a number leaves the list")
        << QByteArray("\"x\"\r\n\"\"\r\n\"-2\"\r\n\"/o\"\r\n\"abc\"\r\n") << 0 << "44100"
        << "320"
        << "双声道"
        << "/o";
    QTest::newRow("folder with a comma")
        << QByteArray("\"13\"\r\n\"1\"\r\n\"1\"\r\n\"/a,b c/视频\"\r\n\"3\"\r\n") << 3 << "28000"
        << "64"
        << "双声道"
        << "/a,b c/视频";
}

void TestStartup::setupIni()
{
    QFETCH(QByteArray, content);
    QFETCH(int, format);
    QFETCH(QString, sampleRate);
    QFETCH(QString, audioBitrate);
    QFETCH(QString, channel);
    QFETCH(QString, folder);
    writeSetting(QStringLiteral("setup.ini"), content);
    auto w = load();
    QCOMPARE(w->cmbOF->currentIndex(), format);
    QCOMPARE(w->cmbR->currentText(), sampleRate);
    QCOMPARE(w->cmbBR->currentText(), audioBitrate);
    QCOMPARE(w->cmbChannel->currentText(), channel);
    QCOMPARE(w->txtPath->text(), folder.isEmpty() ? m_places.defaultOutputFolder() : folder);
}

void TestStartup::optionsIni()
{
    writeSetting(QStringLiteral("options.ini"), "1\r\n0\r\n90\r\n300\r\n");
    auto w = load();
    QCOMPARE(w->options().SoundPrompt, qint16(1));
    QCOMPARE(w->options().MusicCutter, qint16(0));
    QCOMPARE(w->options().CutStart, 90);
    QCOMPARE(w->options().CutEnd, 300);
}

void TestStartup::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk += char((i * 7919 + 13) % 256);
    QTest::newRow("binary junk") << junk;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("10 MB line") << QByteArray(10 * 1024 * 1024, '7');
    QTest::newRow("10 MB quoted line") << '"' + QByteArray(10 * 1024 * 1024, 'a');
    QTest::newRow("negative and huge") << QByteArray(
        "\"-32769\"\r\n\"-99999999999999999999\"\r\n\"1e308\"\r\n\"/o\"\r\n\"-5\"\r\n");
}

void TestStartup::damagedFiles()
{
    QFETCH(QByteArray, content);
    writeSetting(QStringLiteral("setup.ini"), content);
    writeSetting(QStringLiteral("options.ini"), content);
    auto w = load();
    QCOMPARE(w->cmbOF->currentIndex(), 0);
    QCOMPARE(w->cmbVB->currentText(), QStringLiteral("1200"));
    QCOMPARE(w->cmbChannel->currentText(), QStringLiteral("双声道"));
    QVERIFY(!w->txtPath->text().isEmpty());
    QVERIFY(w->options().SoundPrompt == 0 || content.startsWith('7'));
}

void TestStartup::exitValuesRoundTrip()
{
    {
        auto w = load();
        w->cmbOF->setCurrentIndex(3);
        w->txtPath->setText(QStringLiteral("/媒体/out, final"));
        writeSetting(QStringLiteral("setup.ini"), SettingsFiles::formatSetup(w->setupValues()));
    }
    const QByteArray stored = SettingsFiles::readFile(m_places.setupIni()).value_or(QByteArray());
    QVERIFY(stored.endsWith("\"/媒体/out, final\"\r\n\"3\"\r\n"));
    // MPG's sample rate 28000 is no item of its list: it is stored as -1.
    QVERIFY(stored.startsWith("\"5\"\r\n\"-1\"\r\n\"1\"\r\n"));
    auto w = load();
    QCOMPARE(w->cmbOF->currentIndex(), 3);
    QCOMPARE(w->txtPath->text(), QStringLiteral("/媒体/out, final"));
}

void TestStartup::formatDefaults_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("texts"); // video bitrate, frame rate, size, rate, bitrate
    QTest::addColumn<int>("channel");
    QTest::newRow("RMVB") << 0 << QStringList{"1200", "29", "原始大小", "44100", "320"} << 1;
    QTest::newRow("RM") << 1 << QStringList{"1200", "29", "原始大小", "44100", "320"} << 1;
    QTest::newRow("MPG") << 2 << QStringList{"600", "24", "原始大小", "28000", "64"} << 1;
    QTest::newRow("AVI") << 3 << QStringList{"600", "24", "原始大小", "28000", "64"} << 1;
    QTest::newRow("MPEG4") << 4 << QStringList{"1200", "29", "原始大小", "48000", "320"} << 1;
    QTest::newRow("MOV") << 5 << QStringList{"256", "29", "原始大小", "48000", "64"} << 1;
    QTest::newRow("mobile MP4") << 6 << QStringList{"128", "29", "320x240", "8000", "12.2"} << 0;
    QTest::newRow("3GP") << 7 << QStringList{"128", "29", "320x240", "8000", "12.2"} << 0;
}

void TestStartup::formatDefaults()
{
    QFETCH(int, format);
    QFETCH(QStringList, texts);
    QFETCH(int, channel);
    auto w = load();
    // Start from another format so that every row is a change.
    w->cmbOF->setCurrentIndex(format == 8 ? 0 : 8);
    w->cmbOF->setCurrentIndex(format);
    QCOMPARE(QStringList({w->cmbVB->currentText(), w->cmbF->currentText(), w->cmbS->currentText(),
                          w->cmbR->currentText(), w->cmbBR->currentText()}),
             texts);
    QCOMPARE(ParameterLists::listIndex(w->cmbChannel), channel);
    const ParameterSet set = w->currentParameters();
    QCOMPARE(set.format, format);
    QCOMPARE(set.channelCount, channel + 1);
    QCOMPARE(set.videoBitrate, texts.at(0));
    QCOMPARE(set.frameRate, texts.at(1));
    // Defaults that are no item of their list are shown as plain text with no item selected.
    QCOMPARE(ParameterLists::listIndex(w->cmbVB),
             texts.at(0) == "1200" ? -1 : w->cmbVB->currentIndex());
    if (texts.at(3) == "28000")
        QCOMPARE(ParameterLists::listIndex(w->cmbR), -1);
}

void TestStartup::mp3AfterMovKeepsVideoLists()
{
    auto w = load();
    w->cmbOF->setCurrentIndex(5);
    w->cmbOF->setCurrentIndex(8);
    QCOMPARE(w->cmbVB->currentText(), QStringLiteral("256"));
    QCOMPARE(w->cmbF->currentText(), QStringLiteral("29"));
    QCOMPARE(w->cmbS->currentText(), QStringLiteral("原始大小"));
    QCOMPARE(w->cmbR->currentText(), QStringLiteral("48000"));
    QCOMPARE(w->cmbBR->currentText(), QStringLiteral("320"));
    QCOMPARE(w->cmbChannel->currentText(), QStringLiteral("双声道"));
    QCOMPARE(w->cmbOF->currentText(), QStringLiteral("MP3(纯音频格式)"));
}

void TestStartup::typedValuesAreUsed()
{
    auto w = load();
    w->cmbOF->setCurrentIndex(4);
    w->cmbVB->lineEdit()->clear();
    QTest::keyClicks(w->cmbVB->lineEdit(), QStringLiteral("700"));
    QTest::keyClick(w->cmbVB->lineEdit(), Qt::Key_Return);
    QCOMPARE(w->currentParameters().videoBitrate, QStringLiteral("700"));
    QCOMPARE(w->cmbVB->count(), 14); // typed text is not added to the list
    // Choosing the format again resets the lists.
    w->cmbOF->setCurrentIndex(2);
    w->cmbOF->setCurrentIndex(4);
    QCOMPARE(w->currentParameters().videoBitrate, QStringLiteral("1200"));
}

void TestStartup::typedChannelGivesZeroChannels()
{
    auto w = load();
    w->cmbChannel->lineEdit()->clear();
    QTest::keyClicks(w->cmbChannel->lineEdit(), QStringLiteral("stereo"));
    QCOMPARE(w->currentParameters().channelCount, 0);
    QCOMPARE(w->setupValues().channelIndex, -1);
    w->cmbChannel->setCurrentIndex(0);
    QCOMPARE(w->currentParameters().channelCount, 1);
}

void TestStartup::choose(QComboBox *list, int row)
{
    list->showPopup();
    QAbstractItemView *view = list->view();
    view->setCurrentIndex(view->model()->index(row, list->modelColumn()));
    QTest::keyClick(view, Qt::Key_Return);
}

void TestStartup::choosingTheSameFormatResetsTheLists()
{
    auto w = load();
    choose(w->cmbOF, 4);
    QCOMPARE(w->cmbOF->currentIndex(), 4);
    w->cmbVB->setEditText(QStringLiteral("700"));
    w->cmbBR->setEditText(QStringLiteral("96"));
    QSignalSpy reset(w.get(), &frmMain::parameterListsReset);
    choose(w->cmbOF, 4);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(w->cmbVB->currentText(), QStringLiteral("1200"));
    QCOMPARE(w->cmbBR->currentText(), QStringLiteral("320"));
    // Unchanged lists need nothing.
    choose(w->cmbOF, 4);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(w->currentParameters().videoBitrate, QStringLiteral("1200"));
}

void TestStartup::aChangedFormatTakesItsDefaultsOnce_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("picked in the open list") << "popup";
    QTest::newRow("arrow key on the closed list") << "key";
    QTest::newRow("set by the program") << "code";
}

void TestStartup::aChangedFormatTakesItsDefaultsOnce()
{
    QFETCH(QString, how);
    auto w = load();
    w->cmbVB->setEditText(QStringLiteral("700"));
    QSignalSpy reset(w.get(), &frmMain::parameterListsReset);
    if (how == QLatin1String("popup"))
        choose(w->cmbOF, 1);
    else if (how == QLatin1String("key"))
        QTest::keyClick(w->cmbOF, Qt::Key_Down);
    else
        w->cmbOF->setCurrentIndex(1);
    QCOMPARE(w->cmbOF->currentIndex(), 1);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(reset.at(0).at(0).toInt(), 1);
    QCOMPARE(w->cmbVB->currentText(), QStringLiteral("1200"));
}

void TestStartup::everyListStaysUsable_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("how"); // "chosen", "restored" from setup.ini, "sized" after
    for (int format = 0; format < Formats::Count; ++format)
        QTest::addRow("%s chosen", qPrintable(Formats::shortName(format))) << format << "chosen";
    QTest::newRow("RMVB with a frame size") << int(Formats::RMVB) << "sized";
    QTest::newRow("MOV with a frame size") << int(Formats::MOV) << "sized";
    QTest::newRow("MP3 restored from setup.ini") << int(Formats::MP3) << "restored";
    QTest::newRow("FLAC restored from setup.ini") << int(Formats::FLAC) << "restored";
}

// Which values a format reads is the help document's business: no list is ever switched off
// for it, and the tool tips stay as they are.
void TestStartup::everyListStaysUsable()
{
    QFETCH(int, format);
    QFETCH(QString, how);
    if (how == QLatin1String("restored"))
        writeSetting(
            QStringLiteral("setup.ini"),
            QStringLiteral("\"2\"\r\n\"5\"\r\n\"0\"\r\n\"/o\"\r\n\"%1\"\r\n").arg(format).toUtf8());
    auto w = load();
    if (how != QLatin1String("restored")) {
        choose(w->cmbOF, format == 0 ? 1 : 0);
        choose(w->cmbOF, format);
    }
    if (how == QLatin1String("sized"))
        choose(w->cmbS, 10); // 640x480
    QCOMPARE(w->cmbOF->currentIndex(), format);
    const QStringList names{"cmbOF", "cmbVB", "cmbF", "cmbS", "cmbR", "cmbBR", "cmbChannel"};
    const QStringList tips{
        "Output Format",          "Size", "Size", "Size", "Audio Rate", "Audio Bitrate",
        "Channel(Stereo or Mono)"};
    for (int i = 0; i < names.size(); ++i) {
        const auto *list = w->findChild<QComboBox *>(names.at(i));
        QVERIFY(list);
        QVERIFY2(list->isEnabled(), qPrintable(names.at(i)));
        QCOMPARE(list->toolTip(), tips.at(i));
        const auto *caption = w->findChild<QLabel *>(QStringLiteral("Label%1").arg(i + 1));
        QVERIFY(caption);
        QVERIFY2(caption->isEnabled(), qPrintable(caption->objectName()));
    }
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
