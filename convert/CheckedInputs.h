#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

// Files this program found by itself (a folder's search, the watch) rather than was given by
// name: only a regular file of the user's own, no link and with no other name (a hard link to a
// file the user never meant to publish), is taken. Each is noted with the identity it had when
// it was looked at, which the tool is told (ToolContract::InputIdentityVariable): a file put in
// its place since is not converted.
class CheckedInputs
{
public:
    // Whether a file, as fstat or fstatat without following links saw it, may be taken.
    static bool isAcceptable(const struct stat &status);
    // Notes a file found and taken, as it was seen. Safe from any thread.
    static void remember(const QString &path, const struct stat &status);
    // ToolContract::identity() of the file as it was noted; empty when it was given by name.
    static QByteArray identityOf(const QString &path);
};
