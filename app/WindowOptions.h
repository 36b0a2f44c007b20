#pragma once

#include <QString>
#include <QStringList>

class QProcessEnvironment;

// The window's command line: `vidmorph [--] [FILE...]`. Read before Qt sees it, so that a
// mistyped option is refused instead of becoming a row of the list, and so that Qt keeps its
// hands off file names that look like its own options.
class WindowOptions
{
public:
    enum class Action {
        OpenWindow, // with files() in the list
        Headless,   // --convert, --help or --version: the command-line mode answers
        Refuse,     // print message() on standard error and exit with exitCode()
    };

    // `arguments` includes the program name.
    static WindowOptions parse(const QStringList &arguments);

    Action action() const { return m_action; }
    // The files to add, in the order given, as given (relative names stay relative).
    QStringList files() const { return m_files; }
    // Bilingual, ending with the usage lines.
    QString message() const { return m_message; }
    int exitCode() const { return m_exitCode; }

    static QString usageText();

    // Whether a window can be shown at all: an X or Wayland display, or a Qt platform chosen
    // by name (offscreen, for instance).
    static bool displayAvailable(const QProcessEnvironment &environment);
    // What a window started without one says before it exits with NoDisplayExitCode.
    static QString noDisplayText();
    // One line for a display that is named but cannot be opened, also exit status 1.
    static QString displayFailedText(const QProcessEnvironment &environment);
    static constexpr int NoDisplayExitCode = 1;
    static constexpr int BadArgumentsExitCode = 2;

    // The options of `vidmorph --convert` that mean nothing to the window, without dashes.
    static QStringList headlessOnlyOptions();

private:
    static WindowOptions refusal(const QString &problem);

    Action m_action = Action::OpenWindow;
    QStringList m_files;
    QString m_message;
    int m_exitCode = 0;
};
