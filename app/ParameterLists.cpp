#include "app/ParameterLists.h"

#include "app/MainLayout.h"
#include "convert/Formats.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>

namespace {

QComboBox *makeList(QWidget *window, const QString &name, bool editable)
{
    auto *list = new QComboBox(window);
    list->setObjectName(name);
    list->setGeometry(MainLayout::place(name));
    list->setEditable(editable);
    if (editable) {
        // Typed text is a value of its own: it is neither added to the list nor completed
        // into an item it happens to begin.
        list->setInsertPolicy(QComboBox::NoInsert);
        list->setCompleter(nullptr);
    }
    return list;
}

void makeCaption(QWidget *window, const char *name, const QString &text)
{
    auto *label = new QLabel(text, window);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(MainLayout::place(label->objectName()));
}

QComboBox *makeParameterList(QWidget *window, Formats::ParameterListId id, const char *caption)
{
    const Formats::ParameterList &spec = Formats::parameterList(id);
    makeCaption(window, caption, spec.caption);
    QComboBox *list = makeList(window, spec.objectName, true);
    list->setToolTip(spec.toolTip);
    list->addItems(spec.items);
    return list;
}

QComboBox *makeFormatList(QWidget *window)
{
    makeCaption(window, "Label1", QStringLiteral("输出格式："));
    QComboBox *list = makeList(window, QStringLiteral("cmbOF"), false);
    list->setToolTip(QStringLiteral("Output Format"));
    for (int format = 0; format < Formats::Count; ++format)
        list->addItem(Formats::itemText(format));
    // The skin's item look leaves out the check mark's room when the open list takes its
    // width from the items, which would cut the longest name short.
    int widest = 0;
    for (int row = 0; row < list->count(); ++row)
        widest = qMax(widest, list->view()->fontMetrics().horizontalAdvance(list->itemText(row)));
    list->view()->setMinimumWidth(widest + 48);
    return list;
}

} // namespace

ParameterLists::ParameterLists(QWidget *window)
    : cmbOF(makeFormatList(window)),
      cmbVB(makeParameterList(window, Formats::VideoBitrate, "Label2")),
      cmbF(makeParameterList(window, Formats::FrameRate, "Label3")),
      cmbS(makeParameterList(window, Formats::FrameSize, "Label4")),
      cmbR(makeParameterList(window, Formats::SampleRate, "Label5")),
      cmbBR(makeParameterList(window, Formats::AudioBitrate, "Label6")),
      cmbChannel(makeParameterList(window, Formats::Channel, "Label7"))
{
    // Nothing is selected until start-up selects the presets, so selecting the first format
    // is a change and applies its defaults.
    for (QComboBox *list : all())
        list->setCurrentIndex(-1);
}

QList<QComboBox *> ParameterLists::all() const
{
    return {cmbOF, cmbR, cmbBR, cmbS, cmbVB, cmbF, cmbChannel};
}

void ParameterLists::setLocked(bool locked)
{
    for (QComboBox *list : all())
        list->setEnabled(!locked);
}

void ParameterLists::selectPresets()
{
    cmbBR->setCurrentIndex(7);
    cmbR->setCurrentIndex(1);
    cmbChannel->setCurrentIndex(1);
    cmbOF->setCurrentIndex(0);
}

void ParameterLists::applyDefaults(int format)
{
    const std::optional<Formats::Defaults> defaults = Formats::defaults(format);
    if (!defaults)
        return;
    offer(cmbF, Formats::keepSourceFrameRate(), Formats::keepsFrameRate(format), false);
    offer(cmbVB, Formats::qualityItem(), Formats::quality(format) > 0, true);
    if (defaults->videoBitrate)
        setListText(cmbVB, *defaults->videoBitrate);
    if (defaults->frameRate)
        setListText(cmbF, *defaults->frameRate);
    if (defaults->frameSize)
        setListText(cmbS, *defaults->frameSize);
    setListText(cmbR, defaults->sampleRate);
    if (defaults->audioBitrate)
        setListText(cmbBR, *defaults->audioBitrate);
    cmbChannel->setCurrentIndex(defaults->channelIndex);
}

void ParameterLists::offer(QComboBox *list, const QString &item, bool offered, bool first)
{
    const int index = list->findText(item, Qt::MatchExactly);
    if (offered == (index >= 0))
        return;
    // Adding or taking an item must not change what the list shows.
    const QString shown = list->currentText();
    if (offered)
        list->insertItem(first ? 0 : list->count(), item);
    else
        list->removeItem(index);
    setListText(list, shown);
}

bool ParameterLists::showsDefaults(int format) const
{
    const std::optional<Formats::Defaults> defaults = Formats::defaults(format);
    if (!defaults)
        return true;
    auto shows = [](const QComboBox *list, const std::optional<QString> &text) {
        return !text || list->currentText() == *text;
    };
    return shows(cmbVB, defaults->videoBitrate) && shows(cmbF, defaults->frameRate) &&
           shows(cmbS, defaults->frameSize) && shows(cmbR, defaults->sampleRate) &&
           shows(cmbBR, defaults->audioBitrate) && listIndex(cmbChannel) == defaults->channelIndex;
}

void ParameterLists::restore(const QStringList &records)
{
    // -1 clears the selection (and an editable list's text). A record missing from a short
    // file keeps what start-up put there.
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
    select(cmbOF, 4);
}

void ParameterLists::store(SettingsFiles::SetupValues &values) const
{
    values.audioBitrateIndex = listIndex(cmbBR);
    values.sampleRateIndex = listIndex(cmbR);
    values.channelIndex = listIndex(cmbChannel);
    values.formatIndex = cmbOF->currentIndex();
}

ParameterSet ParameterLists::parameters() const
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

int ParameterLists::listIndex(const QComboBox *list)
{
    if (!list->isEditable())
        return list->currentIndex();
    return list->findText(list->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void ParameterLists::setListText(QComboBox *list, const QString &text)
{
    list->setCurrentIndex(list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    list->setEditText(text);
}
