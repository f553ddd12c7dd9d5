#pragma once

#include "common/Failure.h"

#include <QString>
#include <QStringList>

// The lock files git takes in a repository while it updates a ref, the
// packed refs or the marks file. A git process killed meanwhile leaves its
// lock behind, and every later fast-import in that repository then fails to
// update the ref, losing the commits of its run.
namespace RepositoryLocks {

// The lock files in the repository directory, relative to the current directory.
QStringList lockFilesIn(const QString &repositoryDirectory);

// Waits a short while for the lock files to go (a fast-import of a run that
// was just stopped may still be finishing); a failure, with a line naming
// each one that stays, when some are left.
Status waitUntilUnlocked(const QString &repositoryDirectory);

} // namespace RepositoryLocks
