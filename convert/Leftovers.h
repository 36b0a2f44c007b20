#pragma once

#include <QString>

// What runs that were killed outright left behind, and removing it: the scratch folder of a
// headless run ("run-<pid>-…"), the names its files had taken (see OutputReservation) and the
// half-written hidden files of its tools (".vidmorph-<pid>-…"). Only what belongs to a process
// that no longer exists is touched.
namespace Leftovers {

// Whether a process of that id exists on this machine.
bool processExists(qint64 pid);

// In the scratch folder: the run folders and name journals of processes that are gone.
void removeDeadRuns(const QString &scratchBase);

// In an output folder: the tools' hidden temporary files whose tool is gone. On a network
// file system a tool of another machine may be writing one, so there only files untouched for
// a while count as left behind.
void removeDeadTemporaries(const QString &outputFolder);

} // namespace Leftovers
