#include "convert/Locations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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
