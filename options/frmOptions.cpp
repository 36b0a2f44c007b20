#include "options/frmOptions.h"

#include "dialogs/SurfaceDrag.h"
#include "dialogs/Twips.h"
#include "process/MessageSink.h"
#include "process/NumberText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>
#include <algorithm>
#include <iterator>
#include <optional>

namespace {

// The six boxes carry no captions of their own; the tool tip says which part of which time
// a box holds.
QLineEdit *timeBox(QWidget *parent, const char *name, const QRect &geometry, const char *toolTip)
{
    auto *box = new QLineEdit(QStringLiteral("0"), parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    box->setToolTip(QString::fromUtf8(toolTip));
    return box;
}

} // namespace

frmOptions::frmOptions(SettingsFiles::OptionsValues &values, const QString &optionsIniPath,
                       MessageSink *messages, QWidget *parent)
    : QDialog(parent), m_values(values), m_optionsIniPath(optionsIniPath), m_messages(messages)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("选项设置"));
    setFont(Twips::designFont(font()));
    setFixedSize(Twips::rect(0, 0, 3600, 2610).size());

    Label1 = new QLabel(QStringLiteral("转换完毕声音提示"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(Twips::rect(240, 330, 1800, 240));

    cmbSR = new QComboBox(this);
    cmbSR->setObjectName(QStringLiteral("cmbSR"));
    cmbSR->addItems({QStringLiteral("ON"), QStringLiteral("OFF")});
    cmbSR->setGeometry(Twips::rect(2130, 270, 1200, 330));

    chkMC = new QCheckBox(QStringLiteral("Music Cutter"), this);
    chkMC->setObjectName(QStringLiteral("chkMC"));
    chkMC->setGeometry(Twips::rect(240, 780, 1800, 300));

    txtFromH = timeBox(this, "txtFromH", Twips::rect(450, 1170, 840, 315), "开始：时");
    txtFromM = timeBox(this, "txtFromM", Twips::rect(1470, 1170, 840, 315), "开始：分");
    txtFromS = timeBox(this, "txtFromS", Twips::rect(2490, 1170, 840, 315), "开始：秒");
    txtToH = timeBox(this, "txtToH", Twips::rect(450, 1575, 840, 315), "结束：时");
    txtToM = timeBox(this, "txtToM", Twips::rect(1470, 1575, 840, 315), "结束：分");
    txtToS = timeBox(this, "txtToS", Twips::rect(2490, 1575, 840, 315), "结束：秒");

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(Twips::rect(1230, 2040, 1005, 375));

    Command2 = new QPushButton(QStringLiteral("返回"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(Twips::rect(2355, 2040, 975, 375));

    Form_Load();

    connect(chkMC, &QCheckBox::toggled, this, &frmOptions::chkMC_Click);
    connect(Command1, &QPushButton::clicked, this, &frmOptions::imgOK_Click);
    connect(Command2, &QPushButton::clicked, this, &frmOptions::imgExit_Click);
}

void frmOptions::Form_Load()
{
    // An index the list cannot take (a damaged options.ini) leaves nothing selected.
    cmbSR->setCurrentIndex(m_values.SoundPrompt);
    chkMC->setChecked(m_values.MusicCutter == 1);
    if (chkMC->isChecked()) {
        setTimeBoxesEnabled(true);
        showSeconds(m_values.CutStart, txtFromH, txtFromM, txtFromS);
        showSeconds(m_values.CutEnd, txtToH, txtToM, txtToS);
    } else {
        setTimeBoxesEnabled(false);
    }
}

void frmOptions::chkMC_Click()
{
    setTimeBoxesEnabled(chkMC->isChecked());
}

void frmOptions::imgOK_Click()
{
    struct Check
    {
        QLineEdit *box;
        const char16_t *caption;
        const char16_t *text;
    };
    const Check checks[] = {
        {txtFromM, u"分钟", u"分钟必须小于60"},
        {txtToM, u"分钟", u"分钟必须小于60"},
        {txtFromS, u"秒", u"秒必须小于60"},
        {txtToS, u"秒", u"秒必须小于60"},
    };
    // Disabled boxes are checked as well: their text is stored all the same.
    for (const Check &check : checks) {
        if (number(check.box) > 59) {
            if (m_messages)
                m_messages->showMessage(MessageSink::Icon::Exclamation,
                                        QString::fromUtf16(check.caption),
                                        QString::fromUtf16(check.text));
            check.box->setFocus(Qt::OtherFocusReason);
            return;
        }
    }

    const QLineEdit *boxes[] = {txtFromH, txtFromM, txtFromS, txtToH, txtToM, txtToS};
    const bool allZero =
        std::all_of(std::begin(boxes), std::end(boxes), [](auto *box) { return number(box) == 0; });
    if (allZero)
        chkMC->setChecked(false);

    m_values.SoundPrompt = qint16(cmbSR->currentIndex());
    m_values.MusicCutter = chkMC->isChecked() ? 1 : 0;
    // A time too large for the stored number keeps the value it had.
    if (const std::optional<qint32> start =
            NumberText::toInt32(totalSeconds(txtFromH, txtFromM, txtFromS)))
        m_values.CutStart = *start;
    if (const std::optional<qint32> end = NumberText::toInt32(totalSeconds(txtToH, txtToM, txtToS)))
        m_values.CutEnd = *end;

    // A file that cannot be written goes unreported; the values in memory still hold.
    SettingsFiles::writeFile(m_optionsIniPath, SettingsFiles::formatOptions(m_values));
    accept();
}

void frmOptions::imgExit_Click()
{
    reject();
}

void frmOptions::mousePressEvent(QMouseEvent *event)
{
    // Only the dialog's own surface drags it; a press on a control, even a disabled one whose
    // press reaches us, stays the control's.
    if (SurfaceDrag::isSurfacePress(this, event)) {
        startSurfaceMove();
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

bool frmOptions::startSurfaceMove()
{
    return SurfaceDrag::start(this);
}

void frmOptions::setTimeBoxesEnabled(bool enabled)
{
    for (QLineEdit *box : {txtFromH, txtFromM, txtFromS, txtToH, txtToM, txtToS})
        box->setEnabled(enabled);
}

void frmOptions::showSeconds(qint32 total, QLineEdit *hours, QLineEdit *minutes, QLineEdit *seconds)
{
    // Floor division, so a negative time still splits into parts that add up to it.
    auto floorDiv = [](qint64 a, qint64 b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); };
    const qint64 h = floorDiv(total, 3600);
    const qint64 m = floorDiv(total - h * 3600, 60);
    hours->setText(QString::number(h));
    minutes->setText(QString::number(m));
    seconds->setText(QString::number(total - h * 3600 - m * 60));
}

double frmOptions::number(const QLineEdit *box)
{
    return NumberText::leadingNumber(box->text());
}

double frmOptions::totalSeconds(const QLineEdit *hours, const QLineEdit *minutes,
                                const QLineEdit *seconds)
{
    return number(hours) * 3600 + number(minutes) * 60 + number(seconds);
}
