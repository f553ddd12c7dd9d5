#pragma once

#include "common/Failure.h"
#include "repository/Repository.h"
#include "rules/MatchRule.h"
#include "svn/ChangedPathTable.h"
#include "svn/RuleRouter.h"
#include "svn/RuleTarget.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

class MergeInfo;
class TransactionSet;

// Reads the mergeinfo changes of one revision and hands them to the
// transactions of the branches they belong to.
class MergeInfoExporter
{
public:
    MergeInfoExporter(svn_fs_root_t *root, const QList<QList<MatchRule>> &ruleLists,
                      const RuleRouter &router, TransactionSet &transactions);

    // Sets *committing when a branch gets a commit for its mergeinfo alone.
    Status exportChanges(const ChangedPathTable &changes, apr_pool_t *pool, bool *committing);

private:
    Status routeChange(const QByteArray &path, const MergeInfo &now, const MergeInfo &before,
                       apr_pool_t *pool, bool *committing);
    // The branch whose root sourcePath is at revision, in the repository of
    // target; empty when it is no branch root there.
    QString sourceBranch(const QList<MatchRule> &ruleList, const QByteArray &sourcePath,
                         int revision, const RuleTarget &target, apr_pool_t *pool) const;

    svn_fs_root_t *m_root;
    svn_fs_t *m_fs;
    int m_revision;
    const QList<QList<MatchRule>> &m_ruleLists;
    const RuleRouter &m_router;
    TransactionSet &m_transactions;
};
