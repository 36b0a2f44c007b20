#pragma once

#include <QString>

// Path pieces as the file list and the output naming use them. The separator is a parameter
// so the same rules serve native paths and the backslash paths users paste from elsewhere.
namespace PathFunctions {

constexpr QChar NativeSeparator = QLatin1Char('/');

// The folder part, up to and including the last separator: "/v/clip.avi" gives "/v/";
// "clip.avi" gives "". With the backslash separator a drive colon also ends the folder
// ("C:clip.avi" gives "C:"); a colon in a native name is just a character.
QString ParsePath(const QString &sPathIn, QChar separator = NativeSeparator);

// The characters after the last separator; the whole text when it holds none.
QString GetFileName(const QString &path, QChar separator = NativeSeparator);

// GetFileName cut before its first dot: "my.clip.avi" gives "my", ".hidden.avi" gives "".
QString GetBaseName(const QString &path, QChar separator = NativeSeparator);

} // namespace PathFunctions
