#pragma once

#include "app/BatchDisplay.h"
#include "app/BatchResults.h"
#include "app/CommandButtons.h"
#include "app/ParameterLists.h"
#include "app/WindowChrome.h"
#include "convert/BatchHost.h"
#include "convert/FileConversion.h"
#include "convert/FileListModel.h"
#include "convert/Locations.h"
#include "dialogs/CCommonDialogs.h"
#include "process/SettingsFiles.h"

#include <QElapsedTimer>
#include <QWidget>
#include <array>

class BatchScheduler;
class DesktopServices;
class FolderSearch;
class MessageSink;
class SleepInhibitor;
class QComboBox;
class QCloseEvent;
class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QMimeData;
class QMouseEvent;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
class QTreeView;
class frmMenu;
class frmSummary;

// The main window. Controls and handlers keep the program's own names, also as objectName,
// so tests and tools find them. The lists, the batch display and the chrome are classes of
// their own; the conversion itself is the engine's.
class frmMain : public QWidget, public BatchHost
{
    Q_OBJECT
public:
    frmMain(const Locations &locations, MessageSink *messages, DesktopServices *desktop,
            QWidget *parent = nullptr);
    ~frmMain() override;

    // Start-up: skin, presets, the format defaults, setup.ini, options.ini.
    void Form_Load();

    ParameterSet currentParameters() const override { return m_lists.parameters(); }
    QString outputFolderText() const override;
    void setOutputFolderText(const QString &text) override;
    SettingsFiles::SetupValues setupValues() const;
    const SettingsFiles::OptionsValues &options() const { return m_options; }
    FileListModel *files() const { return m_files; }
    BatchScheduler *scheduler() const { return m_scheduler; }
    // The hidden menu window, made the first time it is needed.
    frmMenu *menu();
    // The result window of the latest batch in which files failed, while it is open.
    frmSummary *summary() const;

    // Clicks on the start button this soon after it started a batch do not stop it: they are
    // the second half of a double click.
    void setStartGuardMs(int milliseconds) { m_startGuardMs = milliseconds; }
    static constexpr int DefaultStartGuardMs = 500;

    // Paths from the command line or from a later copy of the program, added as a drop adds.
    void appendFiles(const QStringList &paths);
    // Files that "Open with" or a later copy sent: added, and the window comes to the front.
    void receiveFiles(const QStringList &paths);

    // Controls, named as the program knows them.
    QTreeView *LV = nullptr;
    QListView *lstFile = nullptr;
    QFrame *picText = nullptr;
    QLabel *lblText = nullptr;
    QLineEdit *txtPath = nullptr;
    QLineEdit *txtAction = nullptr;
    QTimer *Timer1 = nullptr;

private:
    ParameterLists m_lists;
    BatchDisplay m_display;
    WindowChrome *m_chrome;
    CommandButtons m_buttons;

public:
    const std::array<QToolButton *, 7> CmdToolsBar = m_buttons.CmdToolsBar; // no 3, no 6
    QPushButton *const cmdBrowse = m_buttons.cmdBrowse;
    QPushButton *const Command3 = m_buttons.Command3;
    QComboBox *const cmbOF = m_lists.cmbOF;
    QComboBox *const cmbVB = m_lists.cmbVB;
    QComboBox *const cmbF = m_lists.cmbF;
    QComboBox *const cmbS = m_lists.cmbS;
    QComboBox *const cmbR = m_lists.cmbR;
    QComboBox *const cmbBR = m_lists.cmbBR;
    QComboBox *const cmbChannel = m_lists.cmbChannel;
    QLabel *const lblBatch = m_display.lblBatch; // which file of how many, and the time left
    QLabel *const lblPB = m_display.lblPB;
    QProgressBar *const pb = m_display.pb;
    QLabel *const imgPB = m_display.imgPB;
    QLabel *const imgHelp = m_chrome->imgHelp;
    QLabel *const imgMin = m_chrome->imgMin;
    QLabel *const imgExit = m_chrome->imgExit;
    QLabel *const lblFeed = m_chrome->lblFeed;
    QLabel *const lblWeb = m_chrome->lblWeb;

    double imgPBWidth() const { return m_display.imgPBWidth(); }
    // Whether a corner button shows its lit picture.
    bool isLit(const QLabel *cornerButton) const { return m_chrome->isLit(cornerButton); }

    // The address of the maker's home page.
    static QString homePage();

public slots:
    void cmbOF_Click(int index);
    void CmdToolsBar_Click(int index);
    void imgToolbar_Click(qint16 index);
    void imgAdd_Click();
    void AddFolder();
    void imgRemove_Click();
    void imgBrowse_Click();
    void imgHelp_Click();
    void imgMin_Click();
    void imgExit_Click();
    void lblWeb_Click();
    void lblFeed_Click();
    void txtAction_Change();
    void imgStart_Click();
    void Timer1_Timer();
    void ConvertNextFile();
    void objDOS_CommandOver();
    void objffmpeg_CommandOver();
    void objDOS_ReceiveOutputs(const FileConversion::Progress &progress);
    void objffmpeg_ReceiveOutputs(const FileConversion::Progress &progress);
    void LV_OLEDragDrop(const QMimeData *data);

signals:
    // A folder search has ended and its files are in the list.
    void folderSearchFinished();
    // The parameter lists have just taken the format's defaults.
    void parameterListsReset(int format);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildControls();
    void applySetupIni();
    void setControlsLocked(bool locked);
    void Command3_Click();
    void batchCompleted();
    void batchStopped(const QString &why);
    void showBatchProgress();
    void updateHint();
    void Form_Unload();

    Locations m_locations;
    MessageSink *m_messages;
    DesktopServices *m_desktop;
    FileListModel *m_files;
    CCommonDialogs m_dialogs;
    BatchScheduler *m_scheduler = nullptr;
    SleepInhibitor *m_awake; // held while a batch runs
    FolderSearch *m_search;
    SettingsFiles::OptionsValues m_options;
    QString m_lastFolder; // where the next Add file dialog opens
    frmMenu *m_menu = nullptr;
    BatchResults m_results;
    QElapsedTimer m_startedAt; // when the start button last started a batch
    int m_startGuardMs = DefaultStartGuardMs;
};
