#include "convert/RunFolder.h"

#include "convert/Leftovers.h"
#include "process/NativePath.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

RunFolder::~RunFolder()
{
    // Removed while the lock still says the run is alive, so nobody else clears it meanwhile.
    if (!m_path.isEmpty())
        Leftovers::removeTree(m_path);
}

bool RunFolder::create(const QString &scratchBase)
{
    Leftovers::removeDeadRuns(scratchBase);
    QByteArray name =
        NativePath::encode(scratchBase) + "/run-" + QByteArray::number(::getpid()) + "-XXXXXX";
    // mkdtemp makes the folder exclusively, mode 0700.
    if (!::mkdtemp(name.data())) {
        m_error = errno;
        return false;
    }
    const QString path = NativePath::decode(name);
    if (!m_lock.create(path + QStringLiteral("/lock"))) {
        m_error = errno;
        Leftovers::removeTree(path);
        return false;
    }
    m_path = path;
    return true;
}
