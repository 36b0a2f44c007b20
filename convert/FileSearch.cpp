#include "convert/FileSearch.h"

#include "convert/Formats.h"
#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace FileSearch {

namespace {

// The name of an output still to come: "<name>-<time>[-<counter>]<extension>" as
// MakeOutputPath makes it, with a format's extension. A run reserves it as an empty file.
bool isReservedName(const char *name)
{
    static const QRegularExpression pattern = [] {
        QStringList extensions;
        for (int format = 0; format < Formats::Count; ++format)
            extensions.append(QRegularExpression::escape(Formats::extension(format)));
        return QRegularExpression(QStringLiteral("-[0-9]{1,6}(-[0-9]+)?(") +
                                  extensions.join(QLatin1Char('|')) + QStringLiteral(")$"));
    }();
    return pattern.match(QString::fromUtf8(name)).hasMatch();
}

// One folder's listing: its files go straight to the results, its subfolders are returned in
// listing order. readdir keeps the file system's order and costs no stat for most entries.
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
        // files that hold the names of outputs still to come.
        if (ToolContract::isTemporaryName(name))
            continue;
        struct stat target;
        if (isReservedName(name) && fstatat(dirfd(dir), name, &target, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(target.st_mode) && target.st_size == 0)
            continue;
        if (entry->d_type == DT_LNK) {
            // A link to a folder is neither followed nor taken for a file.
            const QByteArray full = encoded + '/' + name;
            if (stat(full.constData(), &target) == 0 && S_ISDIR(target.st_mode))
                continue;
        }
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
