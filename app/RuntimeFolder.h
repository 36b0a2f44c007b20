#pragma once

#include <QString>

class QProcessEnvironment;

// Where the single-instance lock and socket live: the session's runtime folder
// ($XDG_RUNTIME_DIR, else /tmp/runtime-<user>), unless it is unusable (another user's, open to
// others, a link, not a folder: another user can make /tmp/runtime-<user> first), and then a
// private folder of the user's own, so the window starts all the same.
namespace RuntimeFolder {

struct Choice
{
    QString folder;
    QString problem; // why the usual folder was not used, one line in Chinese; empty when it was
};

Choice choose(const QProcessEnvironment &environment);

// Why the folder cannot hold the lock safely, in Chinese; empty when it can.
QString problemWith(const QString &folder);

} // namespace RuntimeFolder
