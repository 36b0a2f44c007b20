#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

// An output name taken by one run: the name created exclusively, as an empty file, so that no
// other run (in this process or another, on this machine or another writing to the same
// folder) picks the same name. The tool's finished file takes its place. Whatever gives the
// name up removes it only while it is still the very empty file made here, in the very folder
// it was made in, never a file that has since become somebody's output.
class OutputReservation
{
public:
    enum class Outcome {
        Taken,  // the name was free and is ours now
        Exists, // something is there already: a file, a folder, a link, another run's name
        Failed, // the folder cannot be written; the tool will say why
    };

    // Takes `path`. A taken name is written to `journal` (one line per name, appended), so
    // that a later run can give back what a run that was killed had taken.
    Outcome take(const QString &path, const QString &journal);
    // Removes the name if it is still the empty file this reservation made.
    void release();
    bool isTaken() const { return m_taken; }
    QString path() const { return m_path; }
    // The folder the name was taken in, as ToolContract::identity() writes it; empty when none.
    QByteArray folderIdentity() const;
    // Gives back every name of a journal that is still the empty file of this user's it was,
    // in the folder it was made in, then removes the journal. A journal that is not a file of
    // this user's is not read; a link in its place is removed as a link.
    // With `left`, nothing is removed: the names that would be given back are added to it.
    static void releaseJournal(const QString &journal, QStringList *left = nullptr);

private:
    struct Made
    {
        dev_t folderDevice = 0;
        ino_t folderInode = 0;
        dev_t device = 0;
        ino_t inode = 0;
    };
    // With `onlyLook`, true when it would remove the name, and nothing is removed.
    static bool removeIfUnchanged(const QByteArray &path, const Made &made, bool onlyLook = false);

    QString m_path;
    Made m_made;
    bool m_taken = false;
};
