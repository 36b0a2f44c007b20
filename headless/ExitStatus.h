#pragma once

#include <QStringList>

// The exit statuses of the headless mode, one list for every way a run ends.
namespace ExitStatus {

enum Status : int {
    Converted = 0,    // every file converted (some perhaps with a warning, or skipped)
    FileFailed = 1,   // a file failed, or the batch could not go on
    BadArguments = 2, // the command line cannot be followed; nothing was converted
    NoHome = 3,       // no usable home folder, and no private temporary folder either
    OutOfMemory = 4,  // a file failed for want of memory
    OutOfProcesses = 5,
    OutOfFiles = 6,   // a file failed for want of file descriptors
    SignalBase = 128, // + the number of the signal that stopped the run
};

// The status of a batch that ran to its end, from the reason codes of its failed files: a
// lack of memory, processes or file descriptors says more than "a file failed".
Status forFailures(const QStringList &reasonCodes);
// The status for the system's error number when the run could not even begin.
Status forSystemError(int error);

} // namespace ExitStatus
