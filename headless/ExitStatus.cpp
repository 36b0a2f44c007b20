#include "headless/ExitStatus.h"

#include <cerrno>

namespace ExitStatus {

Status forFailures(const QStringList &reasonCodes)
{
    static const std::pair<const char *, Status> resources[] = {
        {"out-of-memory", OutOfMemory},
        {"out-of-processes", OutOfProcesses},
        {"out-of-files", OutOfFiles},
    };
    for (const auto &[code, status] : resources)
        if (reasonCodes.contains(QLatin1String(code)))
            return status;
    return reasonCodes.isEmpty() ? Converted : FileFailed;
}

Status forSystemError(int error)
{
    switch (error) {
    case ENOMEM:
        return OutOfMemory;
    case EAGAIN:
        return OutOfProcesses;
    case EMFILE:
    case ENFILE:
        return OutOfFiles;
    default:
        return FileFailed;
    }
}

} // namespace ExitStatus
