#include "app/frmMain.h"

#include "app/DesktopServices.h"
#include "app/frmMenu.h"
#include "app/frmSummary.h"
#include "convert/BatchScheduler.h"
#include "convert/FileSearch.h"
#include "convert/Formats.h"
#include "convert/PathFunctions.h"
#include "dialogs/FileDialogs.h"
#include "dialogs/SurfaceDrag.h"
#include "feedback/frmSuggest.h"
#include "options/frmOptions.h"
#include "process/MessageSink.h"
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
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// A batch that took longer than this ends with a desktop notification when the window is
// not in front.
constexpr qint64 LongBatchMs = 60000;

// Layout is authored in twips; 15 twips make one pixel at 96 dpi.
int px(int twips)
{
    return (twips + 7) / 15;
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace

frmMain::frmMain(const Locations &locations, MessageSink *messages, DesktopServices *desktop,
                 QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_locations(locations), m_messages(messages), m_desktop(desktop),
      m_files(new FileListModel(this))
{
    setObjectName(QStringLiteral("frmMain"));
    setFixedSize(px(10470), px(6825));
    setMouseTracking(true);
    setWindowIcon(QIcon(QStringLiteral(":/icons/vidmorph.svg")));
    m_cancelSearches = std::make_shared<std::atomic_bool>(false);
    buildControls();
}

frmMain::~frmMain()
{
    m_cancelSearches->store(true);
    for (QThread *search : std::as_const(m_searches))
        search->wait();
    delete m_menu;
}

QString frmMain::homePage()
{
    // The maker's home page is the root of the server the feedback form sends to.
    return QLatin1String(frmSuggest::DefaultServer) + QLatin1Char('/');
}

QLabel *frmMain::addLabel(const QString &name, const QString &text, int left, int top, int width,
                          int height)
{
    auto *label = new QLabel(text, this);
    label->setObjectName(name);
    label->setGeometry(twipsRect(left, top, width, height));
    return label;
}

QComboBox *frmMain::addList(const QString &name, int left, int top, bool editable)
{
    auto *list = new QComboBox(this);
    list->setObjectName(name);
    list->setGeometry(twipsRect(left, top, name == QLatin1String("cmbOF") ? 2835 : 1335, 330));
    list->setEditable(editable);
    if (editable) {
        // Typed text is a value of its own: it is neither added to the list nor completed
        // into an item it happens to begin.
        list->setInsertPolicy(QComboBox::NoInsert);
        list->setCompleter(nullptr);
    }
    return list;
}

void frmMain::buildControls()
{
    struct ToolButton
    {
        int index;
        const char *caption;
        int left;
        const char *icon;
    };
    const ToolButton toolButtons[] = {
        {0, "添加文件", 0, "add-file"},       {1, "添加文件夹", 1410, "add-folder"},
        {2, "移除文件", 2820, "remove-file"}, {4, "提示设置", 4230, "settings"},
        {5, "退出程序", 5640, "exit"},
    };
    for (const ToolButton &spec : toolButtons) {
        auto *button = new QToolButton(this);
        button->setObjectName(QStringLiteral("CmdToolsBar_%1").arg(spec.index));
        button->setText(QString::fromUtf8(spec.caption));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(32, 32));
        button->setGeometry(twipsRect(spec.left, 0, 1420, 985));
        button->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(spec.icon))));
        connect(button, &QToolButton::clicked, this,
                [this, index = spec.index] { CmdToolsBar_Click(index); });
        CmdToolsBar[spec.index] = button;
    }

    LV = new QTreeView(this);
    LV->setObjectName(QStringLiteral("LV"));
    LV->setGeometry(twipsRect(60, 1350, 6825, 4110));
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
    LV->header()->resizeSection(0, 361);
    LV->header()->resizeSection(1, 94);
    LV->setAcceptDrops(true);
    LV->viewport()->setAcceptDrops(true);
    LV->viewport()->installEventFilter(this);

    // The hidden queue the engine reads: the same model as LV, so the two cannot diverge.
    lstFile = new QListView(this);
    lstFile->setObjectName(QStringLiteral("lstFile"));
    lstFile->setModel(m_files);
    lstFile->hide();

    picText = new QFrame(LV);
    picText->setObjectName(QStringLiteral("picText"));
    picText->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblText = new QLabel(QStringLiteral("拖拽文件到这里开始转换"), picText);
    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setAlignment(Qt::AlignCenter);
    auto *hintLayout = new QVBoxLayout(picText);
    hintLayout->addWidget(lblText);
    picText->resize(px(3600), px(600));
    picText->move((LV->width() - picText->width()) / 2, (LV->height() - picText->height()) / 2);

    lblPB = addLabel(QStringLiteral("lblPB"), QStringLiteral("0%"), 3270, 5670, 345, 210);
    lblPB->resize(px(3600), lblPB->height());
    lblBatch = addLabel(QStringLiteral("lblBatch"), QString(), 60, 5670, 3150, 255);
    pb = new QProgressBar(this);
    pb->setObjectName(QStringLiteral("pb"));
    pb->setGeometry(twipsRect(60, 5970, 6855, 315));
    pb->setRange(0, 100);
    pb->setValue(0);
    pb->setTextVisible(false);
    // The bar image whose width the progress handlers keep; the user sees pb.
    imgPB = new QLabel(this);
    imgPB->setObjectName(QStringLiteral("imgPB"));
    imgPB->hide();

    lblWeb = addLabel(QStringLiteral("lblWeb"), QString(), 90, 6450, 2235, 195);
    lblWeb->setCursor(Qt::PointingHandCursor);
    lblWeb->installEventFilter(this);

    addLabel(QStringLiteral("Label1"), QStringLiteral("输出格式："), 7350, 1080, 900, 210);
    cmbOF = addList(QStringLiteral("cmbOF"), 7350, 1350, false);
    cmbOF->setToolTip(QStringLiteral("Output Format"));
    for (int format = 0; format < Formats::Count; ++format)
        cmbOF->addItem(Formats::itemText(format));

    struct ListPlace
    {
        Formats::ParameterListId id;
        const char *label;
        int labelLeft, labelTop, labelWidth, left, top;
    };
    const ListPlace places[] = {
        {Formats::VideoBitrate, "Label2", 7320, 1890, 1080, 7320, 2190},
        {Formats::FrameRate, "Label3", 8820, 1890, 540, 8820, 2190},
        {Formats::FrameSize, "Label4", 7320, 2760, 900, 7320, 3060},
        {Formats::SampleRate, "Label5", 8820, 2760, 900, 8820, 3045},
        {Formats::AudioBitrate, "Label6", 7320, 3660, 1080, 7320, 3975},
        {Formats::Channel, "Label7", 8820, 3660, 540, 8820, 3975},
    };
    for (const ListPlace &place : places) {
        const Formats::ParameterList &spec = Formats::parameterList(place.id);
        addLabel(QString::fromLatin1(place.label), spec.caption, place.labelLeft, place.labelTop,
                 place.labelWidth, 210);
        QComboBox *list = addList(spec.objectName, place.left, place.top, true);
        list->setToolTip(spec.toolTip);
        list->addItems(spec.items);
        switch (place.id) {
        case Formats::VideoBitrate:
            cmbVB = list;
            break;
        case Formats::FrameRate:
            cmbF = list;
            break;
        case Formats::FrameSize:
            cmbS = list;
            break;
        case Formats::SampleRate:
            cmbR = list;
            break;
        case Formats::AudioBitrate:
            cmbBR = list;
            break;
        case Formats::Channel:
            cmbChannel = list;
            break;
        }
    }
    // Nothing is selected until start-up selects the presets, so selecting the first format
    // is a change and applies its defaults.
    for (QComboBox *list : {cmbOF, cmbVB, cmbF, cmbS, cmbR, cmbBR, cmbChannel})
        list->setCurrentIndex(-1);
    connect(cmbOF, &QComboBox::currentIndexChanged, this, &frmMain::cmbOF_Click);

    addLabel(QStringLiteral("Label8"), QStringLiteral("输出路径："), 7320, 4590, 900, 210);
    txtPath = new QLineEdit(this);
    txtPath->setObjectName(QStringLiteral("txtPath"));
    txtPath->setGeometry(twipsRect(7320, 4875, 2055, 315));
    txtAction = new QLineEdit(this);
    txtAction->setObjectName(QStringLiteral("txtAction"));
    txtAction->hide();
    connect(txtAction, &QLineEdit::textChanged, this, &frmMain::txtAction_Change);
    cmdBrowse = new QPushButton(QStringLiteral("浏览"), this);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setGeometry(twipsRect(9450, 4890, 705, 300));
    cmdBrowse->setToolTip(QStringLiteral("Select an Output Folder"));
    connect(cmdBrowse, &QPushButton::clicked, this, &frmMain::imgBrowse_Click);

    Command3 = new QPushButton(QStringLiteral("立刻开始转换！"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setGeometry(twipsRect(7320, 5460, 2835, 885));
    QFont startFont(QStringLiteral("Tahoma"), 9);
    startFont.setBold(true);
    Command3->setFont(startFont);
    Command3->setIcon(QIcon(QStringLiteral(":/icons/start.svg")));
    Command3->setIconSize(QSize(32, 32));
    connect(Command3, &QPushButton::clicked, this, &frmMain::Command3_Click);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    imgHelp = addLabel(QStringLiteral("imgHelp"), QString(), 9520, 120, 225, 225);
    imgHelp->setToolTip(QStringLiteral("Help & Tutorial"));
    imgMin = addLabel(QStringLiteral("imgMin"), QString(), 9775, 135, 210, 210);
    imgMin->setToolTip(QStringLiteral("Minimize Window"));
    imgExit = addLabel(QStringLiteral("imgExit"), QString(), 10075, 150, 225, 225);
    imgExit->setToolTip(QStringLiteral("Exit"));
    lblFeed = addLabel(QStringLiteral("lblFeed"), QStringLiteral("意见反馈"), 9360, 6480, 720, 195);
    lblFeed->setToolTip(QStringLiteral("Send us your suggestion or question"));
    for (QLabel *pointer : {imgHelp, imgMin, imgExit, lblFeed}) {
        pointer->setCursor(Qt::PointingHandCursor);
        pointer->setMouseTracking(true);
        pointer->installEventFilter(this);
    }
}

void frmMain::applySkin()
{
    QFile skin(m_locations.appFolder + QStringLiteral("/skin/vidmorph.qss"));
    if (skin.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(skin.readAll()));
}

void frmMain::Form_Load()
{
    applySkin();
    m_dialogs.Init(this);
    setImgPBWidth(0);

    m_scheduler = new BatchScheduler(*m_files, *this, m_locations, m_messages, this);
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

    cmbBR->setCurrentIndex(7);
    cmbR->setCurrentIndex(1);
    cmbChannel->setCurrentIndex(1);
    cmbOF->setCurrentIndex(0);
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
    // A record that is not a number, or an index past the list's end, leaves the list as it
    // was; -1 clears the selection (and an editable list's text). A record missing from a
    // short file keeps what start-up put there.
    auto select = [&](QComboBox *list, int record) {
        if (record >= records.size())
            return;
        const std::optional<int> index = SettingsFiles::recordAsIndex(records.at(record));
        if (index && *index >= -1 && *index < list->count())
            list->setCurrentIndex(*index);
    };
    select(cmbBR, 0);
    select(cmbR, 1);
    select(cmbChannel, 2);
    if (records.size() > 3)
        txtPath->setText(records.at(3));
    select(cmbOF, 4);
}

void frmMain::cmbOF_Click(int index)
{
    const std::optional<Formats::Defaults> defaults = Formats::defaults(index);
    if (!defaults)
        return;
    if (defaults->videoBitrate)
        setListText(cmbVB, *defaults->videoBitrate);
    if (defaults->frameRate)
        setListText(cmbF, *defaults->frameRate);
    if (defaults->frameSize)
        setListText(cmbS, *defaults->frameSize);
    setListText(cmbR, defaults->sampleRate);
    setListText(cmbBR, defaults->audioBitrate);
    cmbChannel->setCurrentIndex(defaults->channelIndex);
}

void frmMain::setListText(QComboBox *list, const QString &text)
{
    list->setCurrentIndex(list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    list->setEditText(text);
}

int frmMain::listIndex(const QComboBox *list)
{
    if (!list->isEditable())
        return list->currentIndex();
    return list->findText(list->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

ParameterSet frmMain::currentParameters() const
{
    ParameterSet set;
    set.format = cmbOF->currentIndex();
    set.sampleRate = cmbR->currentText();
    set.audioBitrate = cmbBR->currentText();
    set.channelCount = listIndex(cmbChannel) + 1;
    set.frameSize = cmbS->currentText();
    set.videoBitrate = cmbVB->currentText();
    set.frameRate = cmbF->currentText();
    return set;
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
    values.audioBitrateIndex = listIndex(cmbBR);
    values.sampleRateIndex = listIndex(cmbR);
    values.channelIndex = listIndex(cmbChannel);
    values.outputFolder = txtPath->text();
    values.formatIndex = cmbOF->currentIndex();
    return values;
}

void frmMain::setImgPBWidth(double twips)
{
    m_imgPBWidth = twips;
    imgPB->setFixedWidth(qRound(twips / 15.0));
}

void frmMain::updateHint()
{
    picText->setVisible(m_files->count() == 0);
}

void frmMain::appendFiles(const QStringList &paths)
{
    appendRows(paths, false);
    updateHint();
}

void frmMain::appendRows(const QStringList &paths, bool trimmedFormat)
{
    QVector<FileListModel::Entry> entries;
    entries.reserve(paths.size());
    for (const QString &path : paths)
        entries.append({path, FileListModel::formatTextOf(trimmedFormat ? path.trimmed() : path)});
    m_files->append(entries);
}

void frmMain::LV_OLEDragDrop(const QMimeData *data)
{
    if (!data->hasUrls())
        return;
    QStringList paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    appendFiles(paths);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        if (watched == imgHelp) {
            imgHelp->setPixmap(QIcon(QStringLiteral(":/icons/help-light.svg")).pixmap(12, 17));
            return true;
        }
        if (watched == imgMin) {
            imgMin->setPixmap(QIcon(QStringLiteral(":/icons/min-light.svg")).pixmap(14, 14));
            return true;
        }
        if (watched == imgExit) {
            imgExit->setPixmap(QIcon(QStringLiteral(":/icons/exit-light.svg")).pixmap(14, 13));
            return true;
        }
        if (watched == lblFeed) {
            QFont bold = lblFeed->font();
            bold.setBold(true);
            lblFeed->setFont(bold);
            return true;
        }
    }
    if (controlClicked(watched, event))
        return true;
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
    showProgress(progress.display);
}

void frmMain::objffmpeg_ReceiveOutputs(const FileConversion::Progress &progress)
{
    showProgress(progress.display);
}

void frmMain::showProgress(const ProgressDisplay &display)
{
    setImgPBWidth(display.imgPBWidth);
    pb->setValue(qRound(qBound(0.0, display.pbValue, 100.0)));
    lblPB->setText(display.lblPBCaption);
}

void frmMain::resetProgress()
{
    setImgPBWidth(0);
    pb->setValue(0);
}

frmSummary *frmMain::summary() const
{
    return m_summary;
}

void frmMain::showBatchProgress()
{
    if (m_scheduler->isBusy())
        lblBatch->setText(m_scheduler->progress().statusText());
    updateTitle();
}

void frmMain::updateTitle()
{
    // Minimised, the task bar is all the user sees of the batch. The completion is over as
    // far as the title goes: it shows no more progress after it.
    if (!isMinimized() || !m_scheduler || !m_scheduler->isBusy() ||
        m_scheduler->state() == BatchScheduler::State::Completion) {
        setWindowTitle(QStringLiteral("Vidmorph"));
        return;
    }
    const BatchProgress &progress = m_scheduler->progress();
    QString title = QStringLiteral("Vidmorph - %1%").arg(qRound(progress.fractionDone() * 100));
    if (const std::optional<qint64> left = progress.secondsLeft())
        title += QLatin1Char(' ') + BatchProgress::timeLeftText(*left);
    setWindowTitle(title);
}

void frmMain::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange)
        updateTitle();
    QWidget::changeEvent(event);
}

void frmMain::setControlsLocked(bool locked)
{
    for (QToolButton *button : CmdToolsBar)
        if (button)
            button->setEnabled(!locked);
    for (QComboBox *list : {cmbOF, cmbR, cmbBR, cmbS, cmbVB, cmbF, cmbChannel})
        list->setEnabled(!locked);
    lblFeed->setEnabled(!locked);
    Command3->setText(locked ? QStringLiteral("停止转换") : QStringLiteral("立刻开始转换！"));
    Command3->setIcon(
        QIcon(locked ? QStringLiteral(":/icons/stop.svg") : QStringLiteral(":/icons/start.svg")));
}

void frmMain::batchCompleted()
{
    m_desktop->open(txtPath->text());
    if (m_options.SoundPrompt == 0)
        m_desktop->playSound(m_locations.appFolder + QStringLiteral("/sound.wav"));
    setControlsLocked(false);
    setImgPBWidth(0);
    lblPB->setText(QStringLiteral("Done."));
    const QVector<BatchScheduler::Failure> failures = m_scheduler->failures();
    const int converted = m_scheduler->filesConverted();
    QString result = QStringLiteral("%1 个文件转换成功").arg(converted);
    if (!failures.isEmpty())
        result += QStringLiteral("，%1 个文件转换失败").arg(failures.size());
    lblBatch->setText(result);
    updateTitle();
    // Whoever waited a minute or more has likely turned to something else.
    if (m_scheduler->progress().elapsedMs() > LongBatchMs && !isActiveWindow())
        m_desktop->notify(QStringLiteral("Vidmorph 转换完成"), result);
    if (failures.isEmpty())
        return;
    delete m_summary;
    auto *summary = new frmSummary(failures, converted, this);
    summary->setAttribute(Qt::WA_DeleteOnClose);
    connect(summary, &frmSummary::retryRequested, this, &frmMain::appendFiles);
    connect(summary, &frmSummary::logRequested, this,
            [this, log = m_scheduler->logPath()] { m_desktop->open(log); });
    m_summary = summary;
    // Shown without a nested event loop, so the batch's own handlers return first.
    summary->open();
}

void frmMain::batchStopped(const QString &why)
{
    Timer1->stop();
    setControlsLocked(false);
    // Nothing of the stopped file's progress may carry over to the next batch.
    resetProgress();
    lblPB->setText(why);
    lblBatch->setText(QStringLiteral("已停止，列表中还有 %1 个文件").arg(m_files->count()));
    updateTitle();
}

bool frmMain::controlClicked(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    auto *mouse = static_cast<QMouseEvent *>(event);
    auto *control = qobject_cast<QWidget *>(watched);
    if (mouse->button() != Qt::LeftButton || !control ||
        !control->rect().contains(mouse->position().toPoint()))
        return false;
    if (watched == imgHelp)
        imgHelp_Click();
    else if (watched == imgMin)
        imgMin_Click();
    else if (watched == imgExit)
        imgExit_Click();
    else if (watched == lblFeed && lblFeed->isEnabled())
        lblFeed_Click();
    else if (watched == lblWeb)
        lblWeb_Click();
    else
        return false;
    return true;
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
        if (!m_menu)
            m_menu = new frmMenu(this);
        m_menu->menuRemove->exec(QCursor::pos());
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

void frmMain::imgAdd_Click()
{
    m_dialogs.setTitle(QStringLiteral("Open Files"));
    if (!m_lastFolder.isEmpty())
        m_dialogs.setPath(m_lastFolder);
    m_dialogs.setFilter(QStringLiteral("所有格式文件(*.*)|*.*"));
    if (m_dialogs.ShowOpen() == 0)
        return;
    const QString fileName = m_dialogs.FileName();
    if (!fileName.isEmpty()) {
        m_lastFolder = PathFunctions::ParsePath(fileName);
        appendRows({fileName}, true);
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
    const QString folder = QDir::cleanPath(chosen);
    // A large tree takes a while to list: search it off the window thread, then add what it
    // found in slices, so the window keeps painting and answering while 100 000 rows arrive.
    auto found = std::make_shared<QVector<FileListModel::Entry>>();
    QThread *search = QThread::create([folder, found, cancel = m_cancelSearches] {
        const QStringList paths = FileSearch::SearchFolder(folder, cancel.get());
        found->reserve(paths.size());
        for (const QString &path : paths)
            found->append({path, FileListModel::formatTextOf(path.trimmed())});
    });
    m_searches.append(search);
    connect(search, &QThread::finished, this, [this, search, found] {
        m_searches.removeOne(search);
        search->deleteLater();
        appendSearchResults(found, 0);
    });
    search->start();
}

void frmMain::appendSearchResults(std::shared_ptr<QVector<FileListModel::Entry>> found,
                                  qsizetype from)
{
    constexpr qsizetype Slice = 5000;
    m_files->append(found->mid(from, Slice));
    if (from + Slice < found->size()) {
        QTimer::singleShot(0, this,
                           [this, found, from] { appendSearchResults(found, from + Slice); });
        return;
    }
    updateHint();
    emit folderSearchFinished();
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
    m_desktop->open(m_locations.appFolder + QStringLiteral("/help.html"));
    imgHelp->clear();
}

void frmMain::imgMin_Click()
{
    showMinimized();
    imgMin->clear();
}

void frmMain::lblWeb_Click()
{
    m_desktop->open(homePage());
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

void frmMain::Form_MouseMove()
{
    QFont regular = lblFeed->font();
    regular.setBold(false);
    lblFeed->setFont(regular);
    imgHelp->clear();
    imgExit->clear();
    imgMin->clear();
}

void frmMain::mouseMoveEvent(QMouseEvent *event)
{
    // Moves over labels reach the window too; only its own surface puts the lights out.
    if (!childAt(event->position().toPoint()))
        Form_MouseMove();
    QWidget::mouseMoveEvent(event);
}

void frmMain::mousePressEvent(QMouseEvent *event)
{
    // Only the window's own surface moves it; a press on any control is the control's.
    if (SurfaceDrag::isSurfacePress(this, event))
        SurfaceDrag::start(this);
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
    m_cancelSearches->store(true);
}
