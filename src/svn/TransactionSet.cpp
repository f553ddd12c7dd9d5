#include "svn/TransactionSet.h"

QString TransactionSet::keyOf(const RuleTarget &target)
{
    // A line feed between the two, which no repository name can hold: joined
    // directly, repository "a" with branch "bmaster" and repository "ab" with
    // branch "master" would share one transaction.
    return target.repository + QLatin1Char('\n') + target.branch;
}

Repository::Transaction *TransactionSet::find(const RuleTarget &target) const
{
    const auto open = m_transactions.find(keyOf(target));
    return open == m_transactions.end() ? nullptr : open->second.get();
}

Result<Repository::Transaction *> TransactionSet::open(const RuleTarget &target,
                                                       Repository *repository, int revision)
{
    const QString key = keyOf(target);
    const auto open = m_transactions.find(key);
    if (open != m_transactions.end())
        return open->second.get();
    Result<std::unique_ptr<Repository::Transaction>> transaction =
            repository->beginTransaction(target.branch, target.svnPrefix, revision);
    if (!transaction)
        return transaction.failure();
    return m_transactions.emplace(key, transaction.takeValue()).first->second.get();
}

Status TransactionSet::commitAll(const QByteArray &author, uint epoch, const QByteArray &message)
{
    for (auto it = m_transactions.begin(); it != m_transactions.end();) {
        Repository::Transaction &transaction = *it->second;
        transaction.setCommitter(author);
        transaction.setCommitTime(epoch);
        transaction.setMessage(message);
        if (Status committed = transaction.writeCommit(); !committed)
            return committed;
        it = m_transactions.erase(it);
    }
    return Status();
}
