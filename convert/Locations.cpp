#include "convert/Locations.h"

#include "process/NativePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder that is there and can be written, made with its parents when missing. Without a
// usable HOME, a place derived from it is not used even where it could be made (as "/.cache"
// could by root), unless its XDG variable names it.
bool usable(const QString &folder, const char *xdgVariable)
{
    const QString home = qEnvironmentVariable("HOME");
    const bool homeUsable = !home.isEmpty() && QFileInfo(home).isDir();
    if (!homeUsable && qEnvironmentVariable(xdgVariable).isEmpty())
        return false;
    return QDir().mkpath(folder) && ::access(NativePath::encode(folder).constData(), W_OK) == 0;
}

// A folder under the temporary folder that only this user can enter.
QString privateTemporaryFolder()
{
    const QByteArray base =
        NativePath::encode(QDir::tempPath()) + "/vidmorph-" + QByteArray::number(::geteuid());
    struct stat status = {};
    if ((::mkdir(base.constData(), 0700) == 0 || errno == EEXIST) &&
        ::lstat(base.constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
        status.st_uid == ::geteuid() && (status.st_mode & 077) == 0)
        return NativePath::decode(base);
    // Somebody else has the name, or let others in: the one an earlier run made in its stead,
    // else a fresh one nobody can predict, so that runs do not leave a folder each.
    const QByteArray prefix = base.mid(base.lastIndexOf('/') + 1) + '-';
    if (DIR *dir = ::opendir(NativePath::encode(QDir::tempPath()).constData())) {
        QByteArray earlier;
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name.size() == prefix.size() + 6 && name.startsWith(prefix) &&
                ::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
                (status.st_mode & 077) == 0) {
                earlier = name;
                break;
            }
        }
        ::closedir(dir);
        if (!earlier.isEmpty())
            return NativePath::decode(base.left(base.lastIndexOf('/') + 1) + earlier);
    }
    QByteArray fresh = base + "-XXXXXX";
    return ::mkdtemp(fresh.data()) ? NativePath::decode(fresh) : QString();
}

} // namespace

bool Locations::isInstalled(const QString &appFolder)
{
    return QFileInfo::exists(appFolder + QStringLiteral("/installed"));
}

Locations Locations::standard(const QString &appFolder)
{
    Locations places;
    places.appFolder = QDir::cleanPath(appFolder);
    const QString overridden = qEnvironmentVariable("VIDMORPH_SETTINGS_DIR");
    if (!overridden.isEmpty())
        places.settingsFolder = overridden;
    else if (QFileInfo(places.appFolder).isWritable() && !isInstalled(places.appFolder))
        places.settingsFolder = places.appFolder;
    else
        places.settingsFolder =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/vidmorph");
    places.scratchFolder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                           QStringLiteral("/vidmorph/tmp");
    places.logFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                       QStringLiteral("/vidmorph/logs");
    return places;
}

QString Locations::intermediateFile() const
{
    return scratchFolder + QStringLiteral("/tmp.mp4");
}

QString Locations::setupIni() const
{
    return settingsFolder + QStringLiteral("/setup.ini");
}

QString Locations::optionsIni() const
{
    return settingsFolder + QStringLiteral("/options.ini");
}

QString Locations::defaultOutputFolder() const
{
    // A copy run from its own folder keeps its outputs beside it. An installed copy's folder
    // belongs to root, so each user's outputs go to their videos folder.
    if (QFileInfo(appFolder).isWritable() && !isInstalled(appFolder))
        return appFolder + QStringLiteral("/output");
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty())
        return appFolder + QStringLiteral("/output");
    return videos + QStringLiteral("/Vidmorph");
}

bool Locations::makeScratchFolder() const
{
    if (!QDir().mkpath(scratchFolder))
        return false;
    return QFile::setPermissions(scratchFolder,
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool Locations::leaveUnusableHome(QString *movedTo)
{
    movedTo->clear();
    if (usable(scratchFolder, "XDG_CACHE_HOME") && makeScratchFolder() &&
        usable(logFolder, "XDG_DATA_HOME"))
        return true;
    const QString folder = privateTemporaryFolder();
    if (folder.isEmpty())
        return false;
    scratchFolder = folder + QStringLiteral("/tmp");
    logFolder = folder + QStringLiteral("/logs");
    *movedTo = folder;
    return makeScratchFolder();
}
