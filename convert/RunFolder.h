#pragma once

#include "convert/RunLock.h"

#include <QString>

// A run's own folder in the scratch folder, "run-<pid>-XXXXXX", readable by this user only,
// with a lock held for the run's life that tells every other run, on this machine or another
// sharing the home folder, that it is alive. What dead runs left there goes first. The folder
// and all in it go when the object does.
class RunFolder
{
public:
    RunFolder() = default;
    RunFolder(const RunFolder &) = delete;
    RunFolder &operator=(const RunFolder &) = delete;
    ~RunFolder();

    // False when the folder cannot be made; error() then holds the system's error number.
    bool create(const QString &scratchBase);
    QString path() const { return m_path; }
    int error() const { return m_error; }

private:
    RunLock m_lock;
    QString m_path;
    int m_error = 0;
};
