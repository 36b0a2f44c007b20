#include "app/frmMain.h"

#include "app/BatchResults.h"
#include "app/DesktopServices.h"
#include "app/MainLayout.h"
#include "app/Skin.h"
#include "app/frmMenu.h"
#include "app/frmSummary.h"
#include "convert/BatchScheduler.h"
#include "convert/FolderSearch.h"
#include "convert/Formats.h"
#include "convert/Leftovers.h"
#include "convert/PathFunctions.h"
#include "dialogs/FileDialogs.h"
#include "dialogs/Twips.h"
#include "feedback/frmSuggest.h"
#include "headless/SleepInhibitor.h"
#include "options/frmOptions.h"
#include "process/MessageSink.h"
#include "process/NativePath.h"
#include "process/clsWaitableTimer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

frmMain::frmMain(const Locations &locations, MessageSink *messages, DesktopServices *desktop,
                 QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_lists(this), m_display(this),
      m_chrome(new WindowChrome(this, {[this] { imgHelp_Click(); }, [this] { imgMin_Click(); },
                                       [this] { imgExit_Click(); }, [this] { lblFeed_Click(); },
                                       [this] { lblWeb_Click(); }})),
      m_buttons(this, {[this](int index) { CmdToolsBar_Click(index); },
                       [this] { imgBrowse_Click(); }, [this] { Command3_Click(); }}),
      m_locations(locations), m_messages(messages), m_desktop(desktop),
      m_files(new FileListModel(this)), m_search(new FolderSearch(this)),
      m_results(this, desktop, [this](const QStringList &paths) { appendFiles(paths); })
{
    setObjectName(QStringLiteral("frmMain"));
    setFixedSize(MainLayout::windowSize());
    setMouseTracking(true);
    setWindowIcon(QIcon(QStringLiteral(":/icons/vidmorph.svg")));
    buildControls();
    connect(cmbOF, &QComboBox::currentIndexChanged, this, &frmMain::cmbOF_Click);
    // Choosing the format that is already selected changes no index, but the user asked for
    // its defaults all the same. A choice that did change the index has had them already.
    connect(cmbOF, &QComboBox::activated, this, [this](int index) {
        if (!m_lists.showsDefaults(index))
            cmbOF_Click(index);
    });
    connect(m_search, &FolderSearch::found, m_files, &FileListModel::append);
    connect(m_search, &FolderSearch::tooManyFiles, this, [this](const QString &text) {
        m_messages->showMessage(MessageSink::Icon::Exclamation, QStringLiteral("添加文件夹"), text);
    });
    connect(m_search, &FolderSearch::finished, this, [this] {
        updateHint();
        emit folderSearchFinished();
    });
}

frmMain::~frmMain()
{
    delete m_menu;
}

QString frmMain::homePage()
{
    // The maker's home page is the root of the server the feedback form sends to.
    return QLatin1String(frmSuggest::DefaultServer) + QLatin1Char('/');
}

void frmMain::buildControls()
{
    LV = MainLayout::placed<QTreeView>(this, QStringLiteral("LV"));
    LV->setModel(m_files);
    LV->setRootIsDecorated(false);
    LV->setUniformRowHeights(true);
    LV->setAllColumnsShowFocus(true);
    // Long paths are shortened in the middle so the file name stays readable; the tool tip
    // shows the whole path.
    LV->setTextElideMode(Qt::ElideMiddle);
    LV->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    LV->setSelectionMode(QAbstractItemView::SingleSelection);
    LV->setSelectionBehavior(QAbstractItemView::SelectRows);
    LV->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LV->header()->setStretchLastSection(true);
    for (int column = 0; column < FileListModel::ColumnCount; ++column)
        LV->header()->resizeSection(column, MainLayout::columnWidth(column));
    LV->setAcceptDrops(true);
    LV->viewport()->setAcceptDrops(true);
    LV->viewport()->installEventFilter(this);

    // The hidden queue the engine reads: the same model as LV, so the two cannot diverge.
    lstFile = new QListView(this);
    lstFile->setObjectName(QStringLiteral("lstFile"));
    lstFile->setModel(m_files);
    lstFile->hide();

    picText = MainLayout::placed<QFrame>(LV, QStringLiteral("picText"));
    picText->setAttribute(Qt::WA_TransparentForMouseEvents);
    picText->move((LV->width() - picText->width()) / 2, (LV->height() - picText->height()) / 2);
    lblText = new QLabel(QStringLiteral("拖拽文件到这里开始转换"), picText);
    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setAlignment(Qt::AlignCenter);
    auto *hintLayout = new QVBoxLayout(picText);
    hintLayout->addWidget(lblText);

    MainLayout::placed<QLabel>(this, QStringLiteral("Label8"), QStringLiteral("输出路径："));
    txtPath = MainLayout::placed<QLineEdit>(this, QStringLiteral("txtPath"));
    txtAction = new QLineEdit(this);
    txtAction->setObjectName(QStringLiteral("txtAction"));
    txtAction->hide();
    connect(txtAction, &QLineEdit::textChanged, this, &frmMain::txtAction_Change);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    // The keyboard walks the window as the eye reads it: the commands, the list, the lists on
    // the right, the folder and the start button.
    QList<QWidget *> order;
    for (QToolButton *button : CmdToolsBar)
        if (button)
            order.append(button);
    order << LV << cmbOF << cmbVB << cmbF << cmbS << cmbR << cmbBR << cmbChannel << txtPath
          << cmdBrowse << Command3;
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void frmMain::Form_Load()
{
    // What runs that were killed left behind goes first.
    Leftovers::removeDeadRuns(m_locations.scratchFolder);
    Skin::apply(m_locations.appFolder);
    // Set once the skin is on, whose styling would otherwise take the desktop's size for the
    // controls already made.
    setFont(Twips::designFont(QApplication::font()));
    m_dialogs.Init(this);
    m_display.setImgPBWidth(0);

    m_scheduler = new BatchScheduler(*m_files, *this, m_locations, m_messages, this);
    m_awake = new SleepInhibitor(QDBusConnection::systemBus(), QDBusConnection::sessionBus(), this);
    connect(m_scheduler, &BatchScheduler::fileProgress, this,
            [this](int, const FileConversion::Progress &progress) {
                if (progress.runner == CommandBuilder::Runner::DOS)
                    objDOS_ReceiveOutputs(progress);
                else
                    objffmpeg_ReceiveOutputs(progress);
            });
    connect(m_scheduler, &BatchScheduler::runEnded, this,
            [this](int, CommandBuilder::Runner runner) {
                if (runner == CommandBuilder::Runner::DOS)
                    objDOS_CommandOver();
                else
                    objffmpeg_CommandOver();
            });
    connect(m_scheduler, &BatchScheduler::completed, this, &frmMain::batchCompleted);
    connect(m_scheduler, &BatchScheduler::stopped, this, &frmMain::batchStopped);
    connect(m_scheduler, &BatchScheduler::progressChanged, this, &frmMain::showBatchProgress);

    m_lists.selectPresets();
    txtPath->setText(m_locations.defaultOutputFolder());
    applySetupIni();
    if (txtPath->text().isEmpty())
        txtPath->setText(m_locations.defaultOutputFolder());

    setWindowTitle(QStringLiteral("Vidmorph"));
    lblWeb->setText(QStringLiteral("Vidmorph"));

    m_options = {};
    if (const auto content = SettingsFiles::readFile(m_locations.optionsIni()))
        m_options = SettingsFiles::parseOptions(*content);
    updateHint();
}

void frmMain::applySetupIni()
{
    const auto content = SettingsFiles::readFile(m_locations.setupIni());
    if (!content)
        return;
    const QStringList records = SettingsFiles::readFields(*content, 5);
    m_lists.restore(records);
    if (records.size() > 3)
        txtPath->setText(records.at(3));
}

void frmMain::cmbOF_Click(int index)
{
    m_lists.applyDefaults(index);
    if (Formats::isValid(index))
        emit parameterListsReset(index);
}

QString frmMain::outputFolderText() const
{
    return txtPath->text();
}

void frmMain::setOutputFolderText(const QString &text)
{
    txtPath->setText(text);
}

SettingsFiles::SetupValues frmMain::setupValues() const
{
    SettingsFiles::SetupValues values;
    m_lists.store(values);
    values.outputFolder = txtPath->text();
    return values;
}

void frmMain::updateHint()
{
    picText->setVisible(m_files->count() == 0);
}

void frmMain::appendFiles(const QStringList &paths)
{
    m_files->append(FileListModel::entriesFor(paths));
    updateHint();
}

void frmMain::receiveFiles(const QStringList &paths)
{
    appendFiles(paths);
    m_chrome->bringToFront();
}

void frmMain::LV_OLEDragDrop(const QMimeData *data)
{
    if (!data->hasUrls())
        return;
    QStringList paths;
    // From the address's own bytes: a name that is not UTF-8 arrives percent-encoded, which
    // toLocalFile() would turn into replacement marks.
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths.append(NativePath::decode(
                QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())));
    appendFiles(paths);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == LV->viewport()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto *drop = static_cast<QDropEvent *>(event);
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            LV_OLEDragDrop(drop->mimeData());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::Command3_Click()
{
    // During a batch the start button stops it; a second start would convert the head file
    // twice at once.
    if (m_scheduler && m_scheduler->isBusy()) {
        // The second click of a double click on Start is not a request to stop.
        if (m_startGuardMs > 0 && m_startedAt.isValid() && !m_startedAt.hasExpired(m_startGuardMs))
            return;
        Timer1->stop();
        m_scheduler->stop();
        return;
    }
    imgStart_Click();
    if (m_scheduler->isBusy())
        m_startedAt.start();
}

void frmMain::imgStart_Click()
{
    if (m_files->count() == 0) {
        m_messages->showMessage(MessageSink::Icon::Exclamation, QStringLiteral("添加"),
                                QStringLiteral("请先添加一个文件"));
        return;
    }
    QString refusal;
    if (!m_scheduler->begin(&refusal)) {
        if (!refusal.isEmpty())
            m_messages->showMessage(MessageSink::Icon::Exclamation, QStringLiteral("转换"),
                                    refusal);
        return;
    }
    setControlsLocked(true);
    m_awake->hold(SleepInhibitor::reason());
    Timer1->start();
}

void frmMain::Timer1_Timer()
{
    Timer1->stop();
    ConvertNextFile();
}

void frmMain::ConvertNextFile()
{
    m_scheduler->ConvertNextFile();
}

void frmMain::objDOS_CommandOver()
{
    // The engine goes on by itself; the window shows where the batch stands.
    showBatchProgress();
}

void frmMain::objffmpeg_CommandOver()
{
    showBatchProgress();
}

void frmMain::objDOS_ReceiveOutputs(const FileConversion::Progress &progress)
{
    m_display.showProgress(progress.display);
}

void frmMain::objffmpeg_ReceiveOutputs(const FileConversion::Progress &progress)
{
    m_display.showProgress(progress.display);
}

frmSummary *frmMain::summary() const
{
    return m_results.summary();
}

void frmMain::showBatchProgress()
{
    m_display.showBatch(*m_scheduler);
}

void frmMain::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange)
        m_display.updateTitle(m_scheduler);
    QWidget::changeEvent(event);
}

void frmMain::setControlsLocked(bool locked)
{
    m_buttons.setBatchRunning(locked);
    m_lists.setLocked(locked);
    lblFeed->setEnabled(!locked);
}

void frmMain::batchCompleted()
{
    m_awake->release();
    m_desktop->open(txtPath->text(), DesktopServices::Failure::Quiet);
    if (m_options.SoundPrompt == 0)
        m_desktop->playSound(m_locations.appFolder + QStringLiteral("/sound.wav"));
    setControlsLocked(false);
    m_display.showDone(BatchResults::statusText(*m_scheduler));
    m_display.updateTitle(m_scheduler);
    m_results.report(*m_scheduler, txtPath->text());
}

void frmMain::batchStopped(const QString &why)
{
    m_awake->release();
    Timer1->stop();
    setControlsLocked(false);
    // With no format chosen no command can be built, and the tool "cannot start": the real
    // cause is the format list.
    m_display.showStopped(Formats::isValid(cmbOF->currentIndex())
                              ? why
                              : QStringLiteral("没有选择输出格式：请先在“输出格式”中选择一个格式"),
                          m_files->count());
    m_display.updateTitle(m_scheduler);
}

void frmMain::CmdToolsBar_Click(int index)
{
    static const int routes[] = {0, 6, 1, -1, 2, 4, -1};
    if (index >= 0 && index < int(std::size(routes)) && routes[index] >= 0)
        imgToolbar_Click(qint16(routes[index]));
}

void frmMain::imgToolbar_Click(qint16 index)
{
    switch (index) {
    case 0:
        imgAdd_Click();
        break;
    case 1:
        menu()->menuRemove->exec(QCursor::pos());
        break;
    case 2: {
        frmOptions options(m_options, m_locations.optionsIni(), m_messages, this);
        options.exec();
        break;
    }
    case 4:
        imgExit_Click();
        break;
    case 6:
        AddFolder();
        break;
    default:
        break;
    }
}

frmMenu *frmMain::menu()
{
    if (!m_menu)
        m_menu = new frmMenu({[this](const QString &word) { txtAction->setText(word); },
                              [this] {
                                  m_files->clear();
                                  picText->show();
                              }});
    return m_menu;
}

void frmMain::imgAdd_Click()
{
    m_dialogs.setTitle(QStringLiteral("Open Files"));
    if (!m_lastFolder.isEmpty())
        m_dialogs.setPath(m_lastFolder);
    m_dialogs.setFilter(QStringLiteral("所有格式文件(*.*)|*.*"));
    // Picking a whole selection at once spares the user a dialog per file.
    m_dialogs.setMultiSelect(true);
    if (m_dialogs.ShowOpen() == 0)
        return;
    const QStringList fileNames = m_dialogs.FileNames();
    if (!fileNames.isEmpty()) {
        m_lastFolder = PathFunctions::ParsePath(fileNames.last());
        m_files->append(
            FileListModel::entriesFor(fileNames, FileListModel::FormatFrom::TrimmedPath));
    }
    updateHint();
}

void frmMain::AddFolder()
{
    const QString chosen = FileDialogs::chooseFolder(this, QStringLiteral("选择一个文件夹:"));
    if (chosen.isEmpty()) {
        updateHint();
        return;
    }
    picText->show();
    lblText->setText(QStringLiteral("搜索文件..."));
    m_search->search(QDir::cleanPath(chosen));
}

void frmMain::imgRemove_Click()
{
    if (m_files->count() > 0) {
        const int row = LV->currentIndex().isValid() && LV->selectionModel()->hasSelection()
                            ? LV->currentIndex().row()
                            : -1;
        if (row >= 0) {
            m_files->removeAt(row);
            // The row that took the removed row's place is selected, so the command can be
            // given again.
            if (m_files->count() > 0)
                LV->setCurrentIndex(m_files->index(qMin(row, m_files->count() - 1), 0));
        }
    }
    if (m_files->count() == 0)
        picText->show();
}

void frmMain::txtAction_Change()
{
    if (txtAction->text() == QLatin1String("RemoveSelected"))
        imgRemove_Click();
    txtAction->setText(QString());
}

void frmMain::imgBrowse_Click()
{
    const QString chosen = FileDialogs::chooseFolder(this, QStringLiteral("请选择一个文件夹:"));
    txtPath->setText(chosen.isEmpty() ? m_locations.defaultOutputFolder() : chosen);
}

void frmMain::imgHelp_Click()
{
    m_desktop->open(m_locations.appFolder + QStringLiteral("/help.html"),
                    DesktopServices::Failure::Quiet);
    m_chrome->putOut(imgHelp);
}

void frmMain::imgMin_Click()
{
    showMinimized();
    m_chrome->putOut(imgMin);
}

void frmMain::lblWeb_Click()
{
    m_desktop->open(homePage(), DesktopServices::Failure::Quiet);
}

void frmMain::lblFeed_Click()
{
    frmSuggest feedback(this);
    feedback.exec();
}

void frmMain::imgExit_Click()
{
    SettingsFiles::writeFile(m_locations.setupIni(), SettingsFiles::formatSetup(setupValues()));
    close();
}

void frmMain::mouseMoveEvent(QMouseEvent *event)
{
    m_chrome->surfaceMoved(event);
    QWidget::mouseMoveEvent(event);
}

void frmMain::mousePressEvent(QMouseEvent *event)
{
    m_chrome->surfacePressed(event);
    QWidget::mousePressEvent(event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload()
{
    // No tool may keep running without its window, and no half-written file may stay behind
    // looking like a result.
    if (m_scheduler && m_scheduler->isBusy()) {
        Timer1->stop();
        m_scheduler->stop();
        clsWaitableTimer wait;
        for (int i = 0; i < 100 && m_scheduler->isBusy(); ++i)
            wait.Wait(50);
    }
    // A scratch file that cannot be removed is tried a bounded number of times.
    for (const char *name : {"tmpfile.wav", "tmpfile1.mp3"}) {
        const QString path = m_locations.scratchFolder + QLatin1Char('/') + QLatin1String(name);
        clsWaitableTimer wait;
        for (int attempt = 0; attempt < 20 && QFileInfo(path).isFile(); ++attempt) {
            QFile::remove(path);
            if (QFileInfo(path).isFile())
                wait.Wait(50);
        }
    }
    m_search->cancel();
}
