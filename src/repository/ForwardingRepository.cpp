#include "repository/ForwardingRepository.h"

ForwardingRepository::ForwardingRepository(const QString &name, Repository *target,
                                           const QString &prefix)
    : repositoryName(name), target(target), prefix(prefix)
{
}

ForwardingRepository::~ForwardingRepository() = default;

// The target negotiates its own resume point; a forwarding repository has
// nothing of its own to offer.
Result<int> ForwardingRepository::prepareResume(int &, int)
{
    return 1;
}

Status ForwardingRepository::makeBranch(const QString &branch, int revision,
                                        const QString &sourceBranch, int sourceRevision,
                                        bool sourceHoldsFiles)
{
    return target->makeBranch(branch, revision, sourceBranch, sourceRevision, sourceHoldsFiles);
}

Status ForwardingRepository::dropBranch(const QString &branch, int revision)
{
    return target->dropBranch(branch, revision);
}

Result<std::unique_ptr<Repository::Transaction>>
ForwardingRepository::beginTransaction(const QString &branch, const QString &svnPrefix,
                                       int revision)
{
    Result<std::unique_ptr<Repository::Transaction>> inner =
            target->beginTransaction(branch, svnPrefix, revision);
    if (!inner)
        return inner.failure();
    return std::unique_ptr<Repository::Transaction>(
            std::make_unique<Transaction>(inner.takeValue(), prefix));
}

void ForwardingRepository::recordAnnotatedTag(const QString &branch, const QString &svnPrefix,
                                              int revision, const QByteArray &author, uint epoch,
                                              const QByteArray &logMessage)
{
    target->recordAnnotatedTag(branch, svnPrefix, revision, author, epoch, logMessage);
}

Status ForwardingRepository::flushPendingUpdates()
{
    return target->flushPendingUpdates();
}

void ForwardingRepository::finishRevision(int revision)
{
    target->finishRevision(revision);
}

bool ForwardingRepository::usesPrefix() const
{
    return !prefix.isEmpty() || target->usesPrefix();
}

QString ForwardingRepository::name() const
{
    return repositoryName;
}

Repository *ForwardingRepository::targetRepository()
{
    return target->targetRepository();
}

ForwardingRepository::Transaction::Transaction(std::unique_ptr<Repository::Transaction> inner,
                                               const QString &prefix)
    : inner(std::move(inner)), prefix(prefix)
{
}

ForwardingRepository::Transaction::~Transaction() = default;

Status ForwardingRepository::Transaction::writeCommit()
{
    return inner->writeCommit();
}

void ForwardingRepository::Transaction::setCommitter(const QByteArray &identity)
{
    inner->setCommitter(identity);
}

void ForwardingRepository::Transaction::setCommitTime(uint seconds)
{
    inner->setCommitTime(seconds);
}

void ForwardingRepository::Transaction::setMessage(const QByteArray &message)
{
    inner->setMessage(message);
}

void ForwardingRepository::Transaction::recordMergeSource(const QString &sourceBranch,
                                                          int sourceRevision)
{
    inner->recordMergeSource(sourceBranch, sourceRevision);
}

void ForwardingRepository::Transaction::recordMergeInfoChange(const MergeInfoChange &change)
{
    inner->recordMergeInfoChange(change);
}

// Prefixing is plain concatenation: "sub" and "a/b" give "suba/b".
void ForwardingRepository::Transaction::removePath(const QString &path)
{
    inner->removePath(prefix + path);
}

Result<QIODevice *> ForwardingRepository::Transaction::openFile(const QString &path, int mode,
                                                                qint64 length)
{
    return inner->openFile(prefix + path, mode, length);
}

bool ForwardingRepository::Transaction::writeNote(const QByteArray &noteText, bool append,
                                                  const QByteArray &commit)
{
    return inner->writeNote(noteText, append, commit);
}
