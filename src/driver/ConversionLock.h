#pragma once

#include "common/Failure.h"

#include <QString>

#include <memory>

// Keeps a second conversion out of a directory while one runs there: two runs
// would write the same logs, marks and repositories.
//
// The lock is the file "tallowmere.lock" in the directory, holding the
// process id of the run that has it. The run holds an flock() on the file
// for as long as it lives, so a run that ended in any way (a crash, SIGKILL)
// leaves a file that is no longer locked; the next run takes it over.
class ConversionLock
{
public:
    static constexpr const char *fileName = "tallowmere.lock";

    // Takes the lock of directory, or says why not: another run holds it
    // (naming its process id), or the file cannot be made or locked. A lock
    // file that a run left behind is taken over with a warning.
    static Result<std::unique_ptr<ConversionLock>> acquire(const QString &directory);

    // Removes the lock file.
    ~ConversionLock();

    ConversionLock(const ConversionLock &) = delete;
    ConversionLock &operator=(const ConversionLock &) = delete;

private:
    ConversionLock(int descriptor, const QString &path) : m_descriptor(descriptor), m_path(path) {}

    int m_descriptor;
    QString m_path;
};
