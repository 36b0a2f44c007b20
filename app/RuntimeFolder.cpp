#include "app/RuntimeFolder.h"

#include "process/NativePath.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString usualFolder(const QProcessEnvironment &environment)
{
    const QString set = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!set.isEmpty())
        return set;
    const passwd *user = getpwuid(geteuid());
    return QStringLiteral("/tmp/runtime-") +
           (user ? QString::fromLocal8Bit(user->pw_name) : QString::number(geteuid()));
}

// The folder, made private if it is missing, with its parents.
void makeFolder(const QString &folder)
{
    const QFileInfo info(folder);
    QDir().mkpath(info.absolutePath());
    ::mkdir(NativePath::encode(folder).constData(), 0700);
}

QString privateFallback(const QProcessEnvironment &environment)
{
    QString cache = environment.value(QStringLiteral("XDG_CACHE_HOME"));
    if (cache.isEmpty() && !environment.value(QStringLiteral("HOME")).isEmpty())
        cache = environment.value(QStringLiteral("HOME")) + QStringLiteral("/.cache");
    if (!cache.isEmpty()) {
        const QString folder = cache + QStringLiteral("/vidmorph/runtime");
        makeFolder(folder);
        if (RuntimeFolder::problemWith(folder).isEmpty())
            return folder;
    }
    // Without a home of its own the window still starts, in a folder nobody else can know.
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/vidmorph-runtime-XXXXXX";
    return mkdtemp(pattern.data()) ? QString::fromLocal8Bit(pattern) : QString();
}

} // namespace

namespace RuntimeFolder {

QString problemWith(const QString &folder)
{
    struct stat status = {};
    if (folder.isEmpty() || ::lstat(NativePath::encode(folder).constData(), &status) != 0)
        return QStringLiteral("无法创建");
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("是一个链接");
    if (!S_ISDIR(status.st_mode))
        return QStringLiteral("不是文件夹");
    if (status.st_uid != geteuid())
        return QStringLiteral("属于另一个用户");
    if (status.st_mode & (S_IRWXG | S_IRWXO))
        return QStringLiteral("其他用户也能访问");
    if (::access(NativePath::encode(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("无法写入");
    return {};
}

Choice choose(const QProcessEnvironment &environment)
{
    const QString usual = usualFolder(environment);
    if (!QFileInfo::exists(usual) && !QFileInfo(usual).isSymLink())
        makeFolder(usual);
    const QString problem = problemWith(usual);
    if (problem.isEmpty())
        return {usual, {}};
    const QString fallback = privateFallback(environment);
    return {fallback, QStringLiteral("vidmorph: 运行文件夹 %1 %2，不能安全使用；改用 %3。\n")
                          .arg(usual, problem, fallback)};
}

} // namespace RuntimeFolder
