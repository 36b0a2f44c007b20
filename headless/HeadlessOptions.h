#pragma once

#include "convert/ParameterSet.h"

#include <QString>
#include <QStringList>

// What `vidmorph --convert` was asked to do, read from the command line before any conversion
// starts. Parameters the user leaves out take the chosen format's defaults, as choosing the
// format in the window does; MP3 leaves the video lists where start-up put them (RMVB's).
class HeadlessOptions
{
public:
    enum class Action { Convert, Help, Version, Error };
    enum class Progress { Text, Json };

    // `arguments` includes the program name. Relative paths are taken from `workingFolder`.
    static HeadlessOptions parse(const QStringList &arguments, const QString &workingFolder);
    // True when the command line asks for the headless mode rather than the window.
    static bool wanted(const QStringList &arguments);
    static QString helpText();

    Action action() const { return m_action; }
    QString error() const { return m_error; } // bilingual, one line
    ParameterSet parameters() const { return m_parameters; }
    QString outputFolder() const { return m_outputFolder; } // absolute
    QStringList inputs() const { return m_inputs; }         // absolute, as given (not searched)
    int jobs() const { return m_jobs; }                     // files converted at once
    Progress progress() const { return m_progress; }
    bool quiet() const { return m_quiet; } // only failures and the summary
    // The version line `--version` prints.
    static QString versionText();

private:
    static HeadlessOptions failure(const QString &error);

    Action m_action = Action::Error;
    QString m_error;
    ParameterSet m_parameters;
    QString m_outputFolder;
    QStringList m_inputs;
    int m_jobs = 1;
    Progress m_progress = Progress::Text;
    bool m_quiet = false;
};
