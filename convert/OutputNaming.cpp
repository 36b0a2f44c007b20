#include "convert/OutputNaming.h"

#include "convert/CommandBuilder.h"
#include "process/NativePath.h"

#include <QDir>
#include <QRegularExpression>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

OutputNaming::OutputNaming(const QString &folder, Names names, const QStringList &treeRoots)
    : m_folder(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')),
      m_names(names)
{
    for (const QString &root : treeRoots)
        m_roots.append(QDir::cleanPath(root));
}

QString OutputNaming::folderFor(const QString &inputPath) const
{
    const QString input = QDir::cleanPath(inputPath);
    QString best;
    for (const QString &root : m_roots) {
        const QString inside = root == QLatin1String("/") ? root : root + QLatin1Char('/');
        if (input.startsWith(inside) && root.size() > best.size())
            best = root;
    }
    if (best.isEmpty())
        return m_folder;
    const QString relative = input.mid(best == QLatin1String("/") ? 1 : best.size() + 1);
    const qsizetype slash = relative.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? m_folder : m_folder + relative.left(slash + 1);
}

bool OutputNaming::makeFolderFor(const QString &inputPath) const
{
    const QByteArray folder = NativePath::encode(folderFor(inputPath));
    // Each missing step in turn, from the top; one that exists already is fine.
    for (qsizetype slash = folder.indexOf('/', 1); slash > 0;
         slash = folder.indexOf('/', slash + 1))
        if (::mkdir(folder.left(slash).constData(), 0777) != 0 && errno != EEXIST)
            return false;
    struct stat status = {};
    return ::stat(folder.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

QString OutputNaming::pathFor(const QString &inputPath, const QString &extension, const QTime &now,
                              const std::function<bool(const QString &)> &taken) const
{
    const QString folder = folderFor(inputPath);
    return m_names == Names::Plain
               ? CommandBuilder::MakePlainOutputPath(folder, inputPath, extension, taken)
               : CommandBuilder::MakeOutputPath(folder, inputPath, extension, now, taken);
}

QString OutputNaming::existingOutput(const QString &inputPath, const QString &extension) const
{
    if (m_names == Names::Plain) {
        const QString path = pathFor(inputPath, extension, QTime());
        struct stat status = {};
        return ::lstat(NativePath::encode(path).constData(), &status) == 0 ? path : QString();
    }
    // The longest time of day leaves the base name shortest; every name made shares it.
    const QString latest = pathFor(inputPath, extension, QTime(23, 59, 59));
    const QString folder = folderFor(inputPath);
    const QString name = latest.mid(folder.size());
    const QString base = name.left(name.size() - extension.size() - int(qstrlen("-235959")));
    const QRegularExpression made(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(base) + QStringLiteral("-[0-9]{1,6}(-[0-9]+)?") +
        QRegularExpression::escape(extension)));
    DIR *dir = ::opendir(NativePath::encode(folder).constData());
    if (!dir)
        return {};
    QString found;
    while (const dirent *entry = ::readdir(dir)) {
        const QString candidate = NativePath::decode(entry->d_name);
        // An empty file is a name reserved, by a run under way or one that died, not an output.
        struct stat status = {};
        if (made.match(candidate).hasMatch() &&
            ::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_size > 0) {
            found = folder + candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
