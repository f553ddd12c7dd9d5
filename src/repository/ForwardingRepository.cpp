#include "repository/ForwardingRepository.h"

ForwardingRepository::ForwardingRepository(const QString &name, Repository *target,
                                           const QString &prefix)
    : m_repositoryName(name), m_target(target), m_prefix(prefix)
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
    return m_target->makeBranch(branch, revision, sourceBranch, sourceRevision, sourceHoldsFiles);
}

Status ForwardingRepository::dropBranch(const QString &branch, int revision)
{
    return m_target->dropBranch(branch, revision);
}

Result<std::unique_ptr<Repository::Transaction>>
ForwardingRepository::beginTransaction(const QString &branch, const QString &svnPrefix,
                                       int revision)
{
    Result<std::unique_ptr<Repository::Transaction>> m_inner =
            m_target->beginTransaction(branch, svnPrefix, revision);
    if (!m_inner)
        return m_inner.failure();
    return std::unique_ptr<Repository::Transaction>(
            std::make_unique<Transaction>(m_inner.takeValue(), m_prefix));
}

void ForwardingRepository::recordAnnotatedTag(const QString &branch, const QString &svnPrefix,
                                              int revision, const QByteArray &author, uint epoch,
                                              const QByteArray &logMessage)
{
    m_target->recordAnnotatedTag(branch, svnPrefix, revision, author, epoch, logMessage);
}

Status ForwardingRepository::flushPendingUpdates()
{
    return m_target->flushPendingUpdates();
}

void ForwardingRepository::finishRevision(int revision)
{
    m_target->finishRevision(revision);
}

bool ForwardingRepository::usesPrefix() const
{
    return !m_prefix.isEmpty() || m_target->usesPrefix();
}

QString ForwardingRepository::name() const
{
    return m_repositoryName;
}

Repository *ForwardingRepository::targetRepository()
{
    return m_target->targetRepository();
}

ForwardingRepository::Transaction::Transaction(std::unique_ptr<Repository::Transaction> inner,
                                               const QString &prefix)
    : m_inner(std::move(inner)), m_prefix(prefix)
{
}

ForwardingRepository::Transaction::~Transaction() = default;

Status ForwardingRepository::Transaction::writeCommit()
{
    return m_inner->writeCommit();
}

void ForwardingRepository::Transaction::setCommitter(const QByteArray &identity)
{
    m_inner->setCommitter(identity);
}

void ForwardingRepository::Transaction::setCommitTime(uint seconds)
{
    m_inner->setCommitTime(seconds);
}

void ForwardingRepository::Transaction::setMessage(const QByteArray &message)
{
    m_inner->setMessage(message);
}

void ForwardingRepository::Transaction::recordMergeSource(const QString &sourceBranch,
                                                          int sourceRevision)
{
    m_inner->recordMergeSource(sourceBranch, sourceRevision);
}

void ForwardingRepository::Transaction::recordMergeInfoChange(const MergeInfoChange &change)
{
    m_inner->recordMergeInfoChange(change);
}

// Prefixing is plain concatenation: "sub" and "a/b" give "suba/b".
void ForwardingRepository::Transaction::removePath(const QString &path)
{
    m_inner->removePath(m_prefix + path);
}

Result<QIODevice *> ForwardingRepository::Transaction::openFile(const QString &path, int mode,
                                                                qint64 length)
{
    return m_inner->openFile(m_prefix + path, mode, length);
}

bool ForwardingRepository::Transaction::writeNote(const QByteArray &noteText, bool append,
                                                  const QByteArray &commit)
{
    return m_inner->writeNote(noteText, append, commit);
}
