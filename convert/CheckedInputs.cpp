#include "convert/CheckedInputs.h"

#include "tools/ToolContract.h"

#include <QHash>
#include <QMutex>

#include <unistd.h>

namespace {

QMutex noted;
QHash<QString, QByteArray> identities;

} // namespace

bool CheckedInputs::isAcceptable(const struct stat &status)
{
    return S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_uid == ::geteuid();
}

void CheckedInputs::remember(const QString &path, const struct stat &status)
{
    const QByteArray identity =
        QByteArray::fromStdString(ToolContract::identity(status.st_dev, status.st_ino));
    const QMutexLocker lock(&noted);
    identities.insert(path, identity);
}

QByteArray CheckedInputs::identityOf(const QString &path)
{
    const QMutexLocker lock(&noted);
    return identities.value(path);
}
