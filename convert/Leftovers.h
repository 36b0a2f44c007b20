#pragma once

#include <QString>
#include <QStringList>

// What runs that were killed outright left behind, and removing it: the scratch folder of a
// headless run ("run-<pid>-…"), the journals of the names runs had taken (see
// OutputReservation) and the half-written hidden files of their tools (".vidmorph-<pid>-…").
// A run is known to be gone when nobody holds its lock (see RunLock), on this machine or any
// other sharing the folder; a run folder or journal that has only just appeared may not hold its
// lock yet, and is left alone for a while. Clean-up never follows a link: each entry is looked at
// as it is, links are removed as links, and only folders and journals of this user's, found where
// runs make them, are removed.
namespace Leftovers {

// In the scratch folder: the run folders and name journals of runs that are gone.
void removeDeadRuns(const QString &scratchBase);
// The output names that removeDeadRuns would give back, the empty files killed runs had
// taken; nothing is removed.
QStringList namesOfDeadRuns(const QString &scratchBase);

// A folder and everything in it, without following any link; only a folder of this user's.
bool removeTree(const QString &folder);

// In an output folder: the tools' hidden temporary files whose tool is gone. On a network
// file system a tool of another machine may be writing one, so there only files untouched for
// a while count as left behind.
void removeDeadTemporaries(const QString &outputFolder);

} // namespace Leftovers
