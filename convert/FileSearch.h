#pragma once

#include <QString>
#include <QStringList>
#include <atomic>

// Every file under a folder, whatever its extension: a folder's own files first, in the order
// the file system lists them, then each subfolder's in turn, depth first. Folders that cannot
// be listed add nothing; "." and ".." are never results. Only files the user may mean are taken
// (CheckedInputs): no link, to a file or a folder, is followed, nor a file of another user's or
// one with a second name; each folder is opened from the one above it without following a
// link, and a folder met before (a bind mount of a folder above it) is not searched again, so
// the search always ends. Another run's work in an output folder is left out: the hidden files
// its tools write (".vidmorph-…") and the empty files that reserve the names of its outputs
// ("clip-93512.mp3").
namespace FileSearch {

// No search lists more files than this.
constexpr qsizetype MostFiles = 1000000;

// `folder` and a name are joined with one "/". Stops early, returning what it found so far,
// when `cancel` becomes true, or with `error` set (in Chinese) when more than `most` files
// were found.
QStringList SearchFolder(const QString &folder, const std::atomic_bool *cancel = nullptr,
                         QString *error = nullptr, qsizetype most = MostFiles);

} // namespace FileSearch
