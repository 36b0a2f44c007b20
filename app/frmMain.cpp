#include "app/frmMain.h"

#include "app/DesktopServices.h"
#include "convert/Formats.h"
#include "process/MessageSink.h"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace {

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
    setAcceptDrops(false);
    buildControls();
}

frmMain::~frmMain() = default;

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
    };
    const ToolButton toolButtons[] = {
        {0, "添加文件", 0},    {1, "添加文件夹", 1410}, {2, "移除文件", 2820},
        {4, "提示设置", 4230}, {5, "退出程序", 5640},
    };
    for (const ToolButton &spec : toolButtons) {
        auto *button = new QToolButton(this);
        button->setObjectName(QStringLiteral("CmdToolsBar_%1").arg(spec.index));
        button->setText(QString::fromUtf8(spec.caption));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(32, 32));
        button->setGeometry(twipsRect(spec.left, 0, 1420, 985));
        CmdToolsBar[spec.index] = button;
    }

    LV = new QTreeView(this);
    LV->setObjectName(QStringLiteral("LV"));
    LV->setGeometry(twipsRect(60, 1350, 6825, 4110));
    LV->setModel(m_files);
    LV->setRootIsDecorated(false);
    LV->setUniformRowHeights(true);
    LV->setAllColumnsShowFocus(true);
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
    cmdBrowse = new QPushButton(QStringLiteral("浏览"), this);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setGeometry(twipsRect(9450, 4890, 705, 300));
    cmdBrowse->setToolTip(QStringLiteral("Select an Output Folder"));

    Command3 = new QPushButton(QStringLiteral("立刻开始转换！"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setGeometry(twipsRect(7320, 5460, 2835, 885));
    QFont startFont(QStringLiteral("Tahoma"), 9);
    startFont.setBold(true);
    Command3->setFont(startFont);

    imgHelp = addLabel(QStringLiteral("imgHelp"), QString(), 9520, 120, 225, 225);
    imgHelp->setToolTip(QStringLiteral("Help & Tutorial"));
    imgMin = addLabel(QStringLiteral("imgMin"), QString(), 9775, 135, 210, 210);
    imgMin->setToolTip(QStringLiteral("Minimize Window"));
    imgExit = addLabel(QStringLiteral("imgExit"), QString(), 10075, 150, 225, 225);
    imgExit->setToolTip(QStringLiteral("Exit"));
    lblFeed = addLabel(QStringLiteral("lblFeed"), QStringLiteral("意见反馈"), 9360, 6480, 720, 195);
    lblFeed->setToolTip(QStringLiteral("Send us your suggestion or question"));
    for (QLabel *pointer : {imgHelp, imgMin, imgExit, lblFeed})
        pointer->setCursor(Qt::PointingHandCursor);
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
    SpinnerChar = QLatin1Char('-');
    setImgPBWidth(0);

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
    QVector<FileListModel::Entry> entries;
    entries.reserve(paths.size());
    for (const QString &path : paths)
        entries.append({path, FileListModel::formatTextOf(path)});
    m_files->append(entries);
    updateHint();
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
