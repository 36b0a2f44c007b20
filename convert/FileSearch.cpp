#include "convert/FileSearch.h"

#include "convert/CheckedInputs.h"
#include "convert/Formats.h"
#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A folder as its device and inode: the same folder reached twice is one folder.
QByteArray identityOf(const struct stat &status)
{
    return QByteArray::number(quint64(status.st_dev)) + ':' +
           QByteArray::number(quint64(status.st_ino));
}

// A listed folder, open, with the subfolders still to search in it.
struct Level
{
    int fd = -1;
    QStringList paths;
    QList<QByteArray> names;
};

// One folder's listing: its files go straight to the results, its subfolders are returned in
// listing order, by name within it.
Level listFolder(int fd, const QString &folder, QStringList &results)
{
    Level level{fd, {}, {}};
    DIR *dir = ::fdopendir(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!dir)
        return level;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        // Another run's work is no input: the hidden files its tools are writing.
        if (entry->d_type == DT_LNK || ToolContract::isTemporaryName(name))
            continue;
        const QString path = folder + QLatin1Char('/') + NativePath::decode(name);
        struct stat status = {};
        if (entry->d_type != DT_DIR &&
            ::fstatat(::dirfd(dir), name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (entry->d_type == DT_DIR || S_ISDIR(status.st_mode)) {
            level.paths.append(path);
            level.names.append(QByteArray(name));
            continue;
        }
        if (!CheckedInputs::isAcceptable(status))
            continue;
        // The empty files that hold the names of outputs still to come.
        if (status.st_size == 0 && isReservedName(name))
            continue;
        CheckedInputs::remember(path, status);
        results.append(path);
    }
    ::closedir(dir);
    return level;
}

} // namespace

QStringList SearchFolder(const QString &folder, const std::atomic_bool *cancel, QString *error,
                         qsizetype most)
{
    QStringList results;
    if (cancel && cancel->load())
        return results;
    // The folder named may itself be reached through links of the user's; below it, none.
    const int top =
        ::open(NativePath::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0)
        return results;
    QSet<QByteArray> visited;
    struct stat status = {};
    if (::fstat(top, &status) == 0)
        visited.insert(identityOf(status));
    // An explicit stack instead of recursion: a deep tree cannot exhaust the call stack. Each
    // level holds its folder open, and its subfolders are opened from it, never through a link
    // put in a folder's place.
    QList<Level> pending{listFolder(top, folder, results)};
    while (!pending.isEmpty()) {
        Level &level = pending.last();
        if (level.names.isEmpty() || (cancel && cancel->load()) || results.size() > most) {
            ::close(level.fd);
            pending.removeLast();
            continue;
        }
        const QString path = level.paths.takeFirst();
        const QByteArray name = level.names.takeFirst();
        const int inner =
            ::openat(level.fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (inner < 0)
            continue;
        if (::fstat(inner, &status) != 0 || visited.contains(identityOf(status))) {
            ::close(inner);
            continue;
        }
        visited.insert(identityOf(status));
        pending.append(listFolder(inner, path, results));
    }
    if (results.size() > most) {
        results.resize(most);
        if (error)
            *error = QStringLiteral("“%1”中的文件超过 %2 个，只取了前 %2 个 (too many files)")
                         .arg(NativePath::readable(folder))
                         .arg(most);
    }
    return results;
}

} // namespace FileSearch
