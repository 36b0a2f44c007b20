#pragma once

#include "app/SettingsFiles.h"
#include "convert/FileListModel.h"
#include "convert/Locations.h"
#include "convert/ParameterSet.h"
#include "dialogs/CCommonDialogs.h"

#include <QWidget>
#include <array>

class DesktopServices;
class MessageSink;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QMimeData;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeView;

// The main window. Controls and handlers keep the program's own names, also as objectName,
// so tests and tools find them; the work itself lives in the core library.
class frmMain : public QWidget
{
    Q_OBJECT
public:
    frmMain(const Locations &locations, MessageSink *messages, DesktopServices *desktop,
            QWidget *parent = nullptr);
    ~frmMain() override;

    // Start-up: skin, presets, the format defaults, setup.ini, options.ini.
    void Form_Load();

    ParameterSet currentParameters() const;
    SettingsFiles::SetupValues setupValues() const;
    const SettingsFiles::OptionsValues &options() const { return m_options; }
    FileListModel *files() const { return m_files; }

    // Paths from the command line or from a later copy of the program, added as a drop adds.
    void appendFiles(const QStringList &paths);

    // The selected item of a list: for an editable list the item whose text is exactly the
    // list's text, -1 when typed text matches no item.
    static int listIndex(const QComboBox *list);

    // Controls, named as the program knows them.
    std::array<QToolButton *, 7> CmdToolsBar{}; // elements 3 and 6 do not exist
    QTreeView *LV = nullptr;
    QListView *lstFile = nullptr;
    QFrame *picText = nullptr;
    QLabel *lblText = nullptr;
    QLabel *lblPB = nullptr;
    QProgressBar *pb = nullptr;
    QLabel *imgPB = nullptr;
    QLabel *lblWeb = nullptr;
    QLabel *lblFeed = nullptr;
    QComboBox *cmbOF = nullptr;
    QComboBox *cmbVB = nullptr;
    QComboBox *cmbF = nullptr;
    QComboBox *cmbS = nullptr;
    QComboBox *cmbR = nullptr;
    QComboBox *cmbBR = nullptr;
    QComboBox *cmbChannel = nullptr;
    QLineEdit *txtPath = nullptr;
    QPushButton *cmdBrowse = nullptr;
    QPushButton *Command3 = nullptr;
    QLabel *imgHelp = nullptr;
    QLabel *imgMin = nullptr;
    QLabel *imgExit = nullptr;

    QChar SpinnerChar = QLatin1Char('-');

public slots:
    void cmbOF_Click(int index);
    void LV_OLEDragDrop(const QMimeData *data);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    QLabel *addLabel(const QString &name, const QString &text, int left, int top, int width,
                     int height);
    QComboBox *addList(const QString &name, int left, int top, bool editable);
    void applySkin();
    void applySetupIni();
    void setListText(QComboBox *list, const QString &text);
    void setImgPBWidth(double twips);
    void updateHint();

    Locations m_locations;
    MessageSink *m_messages;
    DesktopServices *m_desktop;
    FileListModel *m_files;
    CCommonDialogs m_dialogs;
    SettingsFiles::OptionsValues m_options;
    double m_imgPBWidth = 0; // twips, as the progress handlers compute it
};
