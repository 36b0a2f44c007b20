#include "convert/FileSearch.h"

#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QByteArray>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace FileSearch {

namespace {

// One folder's listing: its files go straight to the results, its subfolders are returned in
// listing order. readdir keeps the file system's order and tells folders from files without a
// stat; each file takes one, for its size.
QStringList listFolder(const QString &folder, QStringList &results)
{
    QStringList subfolders;
    const QByteArray encoded = NativePath::encode(folder);
    DIR *dir = opendir(encoded.constData());
    if (!dir)
        return subfolders;
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const QString path = folder + QLatin1Char('/') + NativePath::decode(name);
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            const QByteArray full = encoded + '/' + name;
            isFolder = lstat(full.constData(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        if (isFolder) {
            subfolders.append(path);
            continue;
        }
        // Another run's work is no input: the hidden files its tools are writing, and the empty
        // files that hold the names of outputs still to come. No empty file is a video anyway.
        if (ToolContract::isTemporaryName(name))
            continue;
        // A link to a folder is neither followed nor taken for a file.
        struct stat target;
        if (fstatat(dirfd(dir), name, &target, 0) == 0 &&
            (S_ISDIR(target.st_mode) || (S_ISREG(target.st_mode) && target.st_size == 0)))
            continue;
        results.append(path);
    }
    closedir(dir);
    return subfolders;
}

} // namespace

QStringList SearchFolder(const QString &folder, const std::atomic_bool *cancel)
{
    QStringList results;
    // An explicit stack instead of recursion: a deep tree cannot exhaust the call stack.
    QList<QStringList> pending{{folder}};
    while (!pending.isEmpty()) {
        if (cancel && cancel->load())
            break;
        QStringList &level = pending.last();
        if (level.isEmpty()) {
            pending.removeLast();
            continue;
        }
        const QString next = level.takeFirst();
        QStringList subfolders = listFolder(next, results);
        if (!subfolders.isEmpty())
            pending.append(subfolders);
    }
    return results;
}

} // namespace FileSearch
