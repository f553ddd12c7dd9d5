// Reading the mergeinfo changes of a revision and handing them to the
// transactions of the branches they belong to.

#include "svn/MergeInfoExporter.h"

#include "repository/GitNames.h"
#include "svn/MergeInfo.h"
#include "svn/MergeInfoReader.h"
#include "svn/PathRouting.h"
#include "svn/RevisionQueries.h"
#include "svn/ScopedPool.h"
#include "svn/TransactionSet.h"

MergeInfoExporter::MergeInfoExporter(svn_fs_root_t *root,
                                     const QList<QList<MatchRule>> &ruleLists,
                                     const RuleRouter &router, TransactionSet &transactions)
    : m_root(root)
    , m_fs(svn_fs_root_fs(root))
    , m_revision(int(svn_fs_revision_root_revision(root)))
    , m_ruleLists(ruleLists)
    , m_router(router)
    , m_transactions(transactions)
{
}

Status MergeInfoExporter::exportChanges(const ChangedPathTable &changes, apr_pool_t *parentPool,
                                        bool *committing)
{
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (!it.value().propertiesModified || it.value().kind == svn_fs_path_change_delete)
            continue;
        ScopedPool pool(parentPool);
        const char *path = it.key().constData();
        const Result<MergeInfo> now = MergeInfoReader::at(m_root, path, pool);
        if (!now)
            return now.status();
        const Result<MergeInfo> before = MergeInfoReader::before(m_root, path, pool);
        if (!before)
            return before.status();
        if (now.value() == before.value())
            continue;
        if (Status status =
                    routeChange(it.key(), now.value(), before.value(), pool, committing);
            !status)
            return status;
    }
    return Status();
}

// A change at a branch root gives the branch's merge parents; one below it
// (a subtree merge) only keeps the copies of the revision from giving any.
Status MergeInfoExporter::routeChange(const QByteArray &path, const MergeInfo &now,
                                      const MergeInfo &before, apr_pool_t *pool,
                                      bool *committing)
{
    QString matchedPath = QString::fromUtf8(path);
    if (RevisionQueries::isDirectoryInRevision(m_fs, m_revision, path.constData(), pool))
        matchedPath += QLatin1Char('/');
    for (const QList<MatchRule> &ruleList : std::as_const(m_ruleLists)) {
        const MatchRule *rule = PathRouting::firstMatchingRule(ruleList, matchedPath, m_revision);
        if (!rule || rule->action != RuleAction::Export)
            continue;
        rule->pattern.indexIn(matchedPath);
        const RuleTarget target =
                m_router.target(*rule, matchedPath, rule->pattern.matchedLength());
        Repository *repository = m_router.repository(target.repository);
        // A branch name git refuses fails the revision where the branch's
        // content is exported; a commit of mergeinfo alone is not made for it.
        if (!repository || !GitNames::isValidRefName(target.branch))
            continue;
        const bool branchRoot = matchedPath == target.svnPrefix && target.pathInBranch.isEmpty();
        if (!branchRoot) {
            if (Repository::Transaction *open = m_transactions.find(target))
                open->recordMergeInfoChange(MergeInfoChange());
            continue;
        }
        MergeInfoChange change;
        const MergeInfo::Sources growth = now.growthSince(before);
        for (auto source = growth.cbegin(); source != growth.cend(); ++source) {
            const QString branch =
                    sourceBranch(ruleList, source.key(), source.value().last(), target, pool);
            if (branch != target.branch)
                change.sources.append({source.key(), branch, source.value(),
                                       now.sources().value(source.key())});
        }
        Result<Repository::Transaction *> opened =
                m_transactions.open(target, repository, m_revision);
        if (!opened)
            return opened.status();
        *committing = true;
        opened.value()->recordMergeInfoChange(change);
    }
    return Status();
}

QString MergeInfoExporter::sourceBranch(const QList<MatchRule> &ruleList,
                                        const QByteArray &sourcePath, int revision,
                                        const RuleTarget &target, apr_pool_t *pool) const
{
    QString matchedPath = QString::fromUtf8(sourcePath);
    if (revision <= m_revision
        && RevisionQueries::isDirectoryInRevision(m_fs, revision, sourcePath.constData(), pool))
        matchedPath += QLatin1Char('/');
    const std::optional<RuleTarget> source =
            PathRouting::branchRoot(ruleList, matchedPath, revision, m_router.resolver());
    if (!source || source->effectiveRepository != target.effectiveRepository)
        return QString();
    return source->branch;
}
