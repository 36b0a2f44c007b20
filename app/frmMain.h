#pragma once

#include "process/SettingsFiles.h"
#include "convert/BatchHost.h"
#include "convert/FileConversion.h"
#include "convert/FileListModel.h"
#include "convert/Locations.h"
#include "convert/ParameterSet.h"
#include "dialogs/CCommonDialogs.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <array>
#include <atomic>
#include <memory>

class BatchScheduler;
class DesktopServices;
class MessageSink;
class QComboBox;
class QCloseEvent;
class QThread;
class frmMenu;
class frmSummary;
class QFrame;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QListView;
class QMimeData;
class QProgressBar;
class QTimer;
class QPushButton;
class QToolButton;
class QTreeView;

// The main window. Controls and handlers keep the program's own names, also as objectName,
// so tests and tools find them; the work itself lives in the core library.
class frmMain : public QWidget, public BatchHost
{
    Q_OBJECT
public:
    frmMain(const Locations &locations, MessageSink *messages, DesktopServices *desktop,
            QWidget *parent = nullptr);
    ~frmMain() override;

    // Start-up: skin, presets, the format defaults, setup.ini, options.ini.
    void Form_Load();

    ParameterSet currentParameters() const override;
    QString outputFolderText() const override;
    void setOutputFolderText(const QString &text) override;
    SettingsFiles::SetupValues setupValues() const;
    const SettingsFiles::OptionsValues &options() const { return m_options; }
    FileListModel *files() const { return m_files; }
    BatchScheduler *scheduler() const { return m_scheduler; }
    // The result window of the latest batch in which files failed, while it is open.
    frmSummary *summary() const;

    // Clicks on the start button this soon after it started a batch do not stop it: they are
    // the second half of a double click.
    void setStartGuardMs(int milliseconds) { m_startGuardMs = milliseconds; }
    static constexpr int DefaultStartGuardMs = 500;

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
    QLabel *lblBatch = nullptr; // which file of how many, and the time left for the batch
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
    QLineEdit *txtAction = nullptr;

    QTimer *Timer1 = nullptr;

    double imgPBWidth() const { return m_imgPBWidth; }

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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildControls();
    QLabel *addLabel(const QString &name, const QString &text, int left, int top, int width,
                     int height);
    QComboBox *addList(const QString &name, int left, int top, bool editable);
    void applySkin();
    void applySetupIni();
    void setListText(QComboBox *list, const QString &text);
    void setImgPBWidth(double twips);
    void showProgress(const ProgressDisplay &display);
    void resetProgress();
    void setControlsLocked(bool locked);
    void Command3_Click();
    void batchCompleted();
    void batchStopped(const QString &why);
    void showBatchProgress();
    void updateTitle();
    void updateHint();
    void appendRows(const QStringList &paths, bool trimmedFormat);
    void appendSearchResults(std::shared_ptr<QVector<FileListModel::Entry>> found, qsizetype from);
    void Form_MouseMove();
    void Form_Unload();
    bool controlClicked(QObject *watched, QEvent *event);

    Locations m_locations;
    MessageSink *m_messages;
    DesktopServices *m_desktop;
    FileListModel *m_files;
    CCommonDialogs m_dialogs;
    BatchScheduler *m_scheduler = nullptr;
    SettingsFiles::OptionsValues m_options;
    double m_imgPBWidth = 0; // twips, as the progress handlers compute it
    QString m_lastFolder;    // where the next Add file dialog opens
    frmMenu *m_menu = nullptr;
    QPointer<frmSummary> m_summary;
    QElapsedTimer m_startedAt; // when the start button last started a batch
    int m_startGuardMs = DefaultStartGuardMs;
    QList<QThread *> m_searches;
    std::shared_ptr<std::atomic_bool> m_cancelSearches;
};
