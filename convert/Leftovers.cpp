#include "convert/Leftovers.h"

#include "convert/OutputReservation.h"
#include "tools/ToolContract.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <sys/vfs.h>

namespace {

// A temporary on a shared file system counts as abandoned once nothing has written to it for
// this long; a working encoder writes every few seconds.
constexpr qint64 SharedIdleSeconds = 10 * 60;

bool isLocalFileSystem(const QString &folder)
{
    struct statfs info = {};
    if (::statfs(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969:     // NFS
    case 0xff534d42: // CIFS
    case 0xfe534d42: // SMB2
    case 0x517b:     // SMB
    case 0x65735546: // FUSE (sshfs and friends)
    case 0x564c:     // NCP
    case 0x6b414653: // AFS
    case 0x47504653: // GPFS
    case 0x00c36400: // Ceph
        return false;
    default:
        return true;
    }
}

// The process id a name carries after its prefix ("run-1234-…", ".vidmorph-1234-…").
qint64 ownerOf(const QString &name, const QString &prefix)
{
    static const QRegularExpression digits(QStringLiteral("^([0-9]+)-"));
    const QRegularExpressionMatch match = digits.match(name.mid(prefix.size()));
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

void releaseJournals(const QDir &folder, bool onlyDead)
{
    const QString prefix = QStringLiteral("reservations-");
    for (const QString &name : folder.entryList({prefix + QLatin1Char('*')}, QDir::Files)) {
        const qint64 pid = name.mid(prefix.size()).toLongLong();
        if (!onlyDead || (pid > 0 && !Leftovers::processExists(pid)))
            OutputReservation::releaseJournal(folder.filePath(name));
    }
}

} // namespace

namespace Leftovers {

bool processExists(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

void removeDeadRuns(const QString &scratchBase)
{
    const QDir base(scratchBase);
    releaseJournals(base, true);
    const QString prefix = QStringLiteral("run-");
    for (const QString &name : base.entryList({prefix + QLatin1Char('*')}, QDir::Dirs)) {
        const qint64 pid = ownerOf(name, prefix);
        if (pid <= 0 || processExists(pid))
            continue;
        QDir run(base.filePath(name));
        releaseJournals(run, false);
        run.removeRecursively();
    }
}

void removeDeadTemporaries(const QString &outputFolder)
{
    const QString prefix = QLatin1String(ToolContract::TemporaryPrefix);
    QDir folder(outputFolder);
    const QStringList names =
        folder.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    if (names.isEmpty())
        return;
    const bool local = isLocalFileSystem(outputFolder);
    const QDateTime idleSince = QDateTime::currentDateTime().addSecs(-SharedIdleSeconds);
    for (const QString &name : names) {
        const qint64 pid = ownerOf(name, prefix);
        if (pid <= 0 || processExists(pid))
            continue;
        if (!local && QFileInfo(folder.filePath(name)).lastModified() > idleSince)
            continue;
        folder.remove(name);
    }
}

} // namespace Leftovers
