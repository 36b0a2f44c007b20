#pragma once

#include "convert/Formats.h"
#include "convert/ParameterSet.h"
#include "process/SettingsFiles.h"

#include <QList>
#include <QStringList>

class QComboBox;
class QWidget;

// The output format list and the six parameter lists of the main window with their captions:
// what choosing a format writes into them, how their values are read for a command, and what
// setup.ini keeps of them.
class ParameterLists
{
public:
    // Makes the lists and their captions on the window, nothing selected yet.
    explicit ParameterLists(QWidget *window);

    QComboBox *const cmbOF;
    QComboBox *const cmbVB;
    QComboBox *const cmbF;
    QComboBox *const cmbS;
    QComboBox *const cmbR;
    QComboBox *const cmbBR;
    QComboBox *const cmbChannel;

    // The seven lists in the order a batch locks them.
    QList<QComboBox *> all() const;

    // Every list stays usable whatever the format; only a batch locks all seven.
    void setLocked(bool locked);

    // What start-up selects before setup.ini is read: the presets, then the first format.
    void selectPresets();
    // The format's defaults; nothing for an index that is no format.
    void applyDefaults(int format);
    // Whether the lists already show every value the format's defaults write.
    bool showsDefaults(int format) const;
    // Selects the stored indexes of setup.ini's records; a record that is not a number, or an
    // index past the list's end, leaves that list as it was.
    void restore(const QStringList &records);
    void store(SettingsFiles::SetupValues &values) const;
    ParameterSet parameters() const;

    // The selected item of a list: for an editable list the item whose text is exactly the
    // list's text, -1 when typed text matches no item.
    static int listIndex(const QComboBox *list);
    // Writes a text into an editable list, selecting the item of exactly that text if any.
    static void setListText(QComboBox *list, const QString &text);

private:
    // The frame rate list holds "原始帧率" (last) only while a format that can keep the
    // source's rate is chosen, the video bitrate list "画质优先" (first) only while a
    // format with a quality level is; the lists of the formats of old stay as they always were.
    static void offer(QComboBox *list, const QString &item, bool offered, bool first);
};
