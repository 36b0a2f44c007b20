#pragma once

#include <QString>
#include <QStringList>
#include <atomic>

// Every file under a folder, whatever its extension: a folder's own files first, in the order
// the file system lists them, then each subfolder's in turn, depth first. Folders that cannot
// be listed add nothing; "." and ".." are never results; a symbolic link to a folder is not
// followed, so a link loop cannot make the search endless. Another run's work in an output
// folder is left out: the hidden files its tools write (".vidmorph-…") and the empty files that
// reserve the names of its outputs ("clip-93512.mp3").
namespace FileSearch {

// `folder` and a name are joined with one "/". Stops early, returning what it found so far,
// when `cancel` becomes true.
QStringList SearchFolder(const QString &folder, const std::atomic_bool *cancel = nullptr);

} // namespace FileSearch
