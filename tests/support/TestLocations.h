#pragma once

#include "convert/Locations.h"

#include <QString>

// Every place of the program inside one folder of a test's own; the application folder is
// given, so a test can use the built tools or a folder it made.
inline Locations testLocations(const QString &root, const QString &appFolder)
{
    Locations places;
    places.appFolder = appFolder;
    places.settingsFolder = root + QStringLiteral("/settings");
    places.scratchFolder = root + QStringLiteral("/scratch");
    places.logFolder = root + QStringLiteral("/logs");
    return places;
}
