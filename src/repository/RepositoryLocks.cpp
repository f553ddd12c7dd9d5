#include "repository/RepositoryLocks.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QHash>
#include <QThread>

namespace {

// A fast-import holds each lock for the few milliseconds of one update (a
// finishing one takes them one after another); a lock that stays this long
// belongs to no process that is still finishing.
const int lockGraceMs = 5000;
const int lockPollMs = 100;

} // namespace

namespace RepositoryLocks {

QStringList lockFilesIn(const QString &repositoryDirectory)
{
    const QStringList pattern{QStringLiteral("*.lock")};
    const QDir::Filters files = QDir::Files | QDir::Hidden | QDir::System;
    QStringList locks;
    // HEAD.lock, packed-refs.lock, the marks file's lock, config.lock
    for (const QString &name : QDir(repositoryDirectory).entryList(pattern, files, QDir::Name))
        locks << repositoryDirectory + QLatin1Char('/') + name;
    QDirIterator refs(repositoryDirectory + QStringLiteral("/refs"), pattern, files,
                      QDirIterator::Subdirectories);
    QStringList refLocks;
    while (refs.hasNext())
        refLocks << refs.next();
    refLocks.sort();
    return locks + refLocks;
}

Status waitUntilUnlocked(const QString &repositoryDirectory)
{
    QElapsedTimer clock;
    clock.start();
    QHash<QString, qint64> firstSeen;
    for (;;) {
        const QStringList locks = lockFilesIn(repositoryDirectory);
        if (locks.isEmpty())
            return Status();
        QHash<QString, qint64> stillThere;
        QStringList stale;
        for (const QString &lock : locks) {
            const qint64 seen = firstSeen.value(lock, clock.elapsed());
            stillThere.insert(lock, seen);
            if (clock.elapsed() - seen >= lockGraceMs)
                stale << lock;
        }
        firstSeen = stillThere;
        Status unlocked;
        for (const QString &lock : stale)
            unlocked.then(Failure() << "Repository" << repositoryDirectory << "is locked by" << lock
                          << ": another git process works in it, or one was killed and left the lock"
                          << "behind. Nothing was converted; if no other conversion or git command"
                          << "runs in the repository, remove the file and run again");
        if (!unlocked)
            return unlocked;
        QThread::msleep(lockPollMs);
    }
}

} // namespace RepositoryLocks
