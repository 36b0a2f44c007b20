#pragma once

#include "convert/OutputNaming.h"
#include "convert/ParameterSet.h"
#include "headless/Shard.h"

#include <QString>
#include <QStringList>
#include <vector>

class QDir;

// What `vidmorph --convert` (or `--watch`) was asked to do, read from the command line before
// any conversion starts. Parameters the user leaves out take the chosen format's defaults, as
// choosing the format in the window does; MP3 leaves the video lists where start-up put them
// (RMVB's). One table holds every option: its names, its value, its help and how it is read.
class HeadlessOptions
{
public:
    enum class Action { Convert, Watch, Help, Version, Error };
    enum class Progress { Text, Json };

    // `arguments` includes the program name. Relative paths are taken from `workingFolder`.
    static HeadlessOptions parse(const QStringList &arguments, const QString &workingFolder);
    // True when the command line asks for the headless mode rather than the window.
    static bool wanted(const QStringList &arguments);
    static QString helpText();
    // The version line `--version` prints.
    static QString versionText();
    // Every option of the table: "-f", "--format", … in the table's order.
    static QStringList optionNames();
    // The names a list for --files-from holds: one a line, or each ended by a NUL byte; every
    // byte kept (a name need not be UTF-8), empty names skipped, relative ones taken from
    // `workingFolder`. A NUL byte in a list of lines names no file: `error` says which line
    // holds one, and no name is returned.
    static QStringList namesInList(const QByteArray &list, bool nulSeparated,
                                   const QString &workingFolder, QString *error = nullptr);
    // The first of the paths that is not the tree's root nor below it, empty when all are.
    QString outsideTree(const QStringList &paths) const;

    Action action() const { return m_action; }
    QString error() const { return m_error; } // bilingual, one line
    ParameterSet parameters() const { return m_parameters; }
    QString outputFolder() const { return m_outputFolder; } // absolute
    QStringList inputs() const { return m_inputs; }         // absolute, as given (not searched)
    int jobs() const { return m_jobs; }                     // files converted at once
    Progress progress() const { return m_progress; }
    bool quiet() const { return m_quiet; } // nothing on success, only the failures otherwise
    OutputNaming::Names names() const { return m_names; }
    bool skipExisting() const { return m_skipExisting; }
    // With --keep-tree: the roots whose relative folders the outputs keep; the root given, or
    // else the watch folder, or else the folder all inputs (given and listed) share. Empty
    // without.
    QStringList treeRoots() const;
    // The names read from the --files-from list, which the tree's root must hold too.
    void addListed(const QStringList &names) { m_listed += names; }
    QString filesFrom() const { return m_filesFrom; } // absolute, or "-" for standard input
    bool nulSeparated() const { return m_nulSeparated; }
    bool dryRun() const { return m_dryRun; }
    QString watchFolder() const { return m_watchFolder; } // absolute
    int settleSeconds() const { return m_settleSeconds > 0 ? m_settleSeconds : DefaultSettle; }
    QString logFile() const { return m_logFile; }       // absolute, or empty for the log folder
    QStringList includes() const { return m_includes; } // --include globs, for a watch
    Shard shard() const { return m_shard; }             // the whole batch without --shard
    bool retryFailed() const { return m_retryFailed; }
    // Outputs dated when they are converted, not with their inputs' dates.
    bool conversionTime() const { return m_conversionTime; }

private:
    struct Option;
    static const std::vector<Option> &table();
    static HeadlessOptions failure(const QString &error);
    QString checkTogether(const QStringList &positional, const QDir &working);

    Action m_action = Action::Error;
    QString m_error;
    ParameterSet m_parameters;
    bool m_videoBitrateGiven = false;
    QString m_outputFolder;
    QStringList m_inputs;
    QStringList m_listed;
    int m_jobs = 1;
    Progress m_progress = Progress::Text;
    bool m_quiet = false;
    OutputNaming::Names m_names = OutputNaming::Names::Timed;
    bool m_skipExisting = false;
    bool m_conversionTime = false;
    bool m_keepTree = false;
    QString m_treeRoot;
    QString m_filesFrom;
    bool m_nulSeparated = false;
    bool m_dryRun = false;
    QString m_watchFolder;
    static constexpr int DefaultSettle = 5;
    int m_settleSeconds = 0; // 0: not given
    QString m_logFile;
    QStringList m_includes;
    QString m_workingFolder;
    Shard m_shard;
    bool m_retryFailed = false;
};
