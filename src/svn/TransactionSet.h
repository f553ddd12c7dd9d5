#pragma once

#include "common/Failure.h"
#include "repository/Repository.h"
#include "svn/RuleTarget.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>

// The transactions a revision has open, one for each branch of each
// repository. They are kept and committed in key order (repository name,
// line feed, branch name), so that every run writes the same stream.
// Transactions left uncommitted are discarded with the set.
class TransactionSet
{
public:
    // The open transaction of target's branch; null when there is none.
    Repository::Transaction *find(const RuleTarget &target) const;
    // The transaction of target's branch, begun in repository at revision
    // when none is open yet.
    Result<Repository::Transaction *> open(const RuleTarget &target, Repository *repository,
                                           int revision);
    // Commits every open transaction with these and forgets it.
    Status commitAll(const QByteArray &author, uint epoch, const QByteArray &message);

private:
    static QString keyOf(const RuleTarget &target);

    std::map<QString, std::unique_ptr<Repository::Transaction>> m_transactions;
};
