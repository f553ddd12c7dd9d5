// Reading the mergeinfo changes of a revision and handing them to the
// transactions of the branches they belong to.

#include "svn/RevisionExporter.h"

#include "repository/GitNames.h"
#include "svn/MergeInfo.h"
#include "svn/MergeInfoReader.h"
#include "svn/PathRouting.h"
#include "svn/RevisionQueries.h"
#include "svn/ScopedPool.h"

Status RevisionExporter::exportMergeInfoChanges(const ChangedPathTable &changes)
{
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (!it.value().propertiesModified || it.value().kind == svn_fs_path_change_delete)
            continue;
        ScopedPool pool(m_pool.pool());
        const char *path = it.key().constData();
        const Result<MergeInfo> now = MergeInfoReader::at(m_fsRoot, path, pool);
        if (!now)
            return now.status();
        const Result<MergeInfo> before = MergeInfoReader::before(m_fsRoot, path, pool);
        if (!before)
            return before.status();
        if (now.value() == before.value())
            continue;
        if (Status status = routeMergeInfoChange(it.key(), now.value(), before.value(), pool);
            !status)
            return status;
    }
    return Status();
}

// A change at a branch root gives the branch's merge parents; one below it
// (a subtree merge) only keeps the copies of the revision from giving any.
Status RevisionExporter::routeMergeInfoChange(const QByteArray &path, const MergeInfo &now,
                                              const MergeInfo &before, apr_pool_t *pool)
{
    QString matchedPath = QString::fromUtf8(path);
    if (RevisionQueries::isDirectoryInRevision(m_fs, m_revision, path.constData(), pool))
        matchedPath += QLatin1Char('/');
    for (const QList<MatchRule> &ruleList : std::as_const(m_matchRuleLists)) {
        const MatchRule *rule = PathRouting::firstMatchingRule(ruleList, matchedPath, m_revision);
        if (!rule || rule->action != RuleAction::Export)
            continue;
        rule->pattern.indexIn(matchedPath);
        const RuleTarget target =
                computeRuleTarget(*rule, matchedPath, rule->pattern.matchedLength());
        Repository *repository = m_repositories.value(target.repository);
        // A branch name git refuses fails the revision where the branch's
        // content is exported; a commit of mergeinfo alone is not made for it.
        if (!repository || !GitNames::isValidRefName(target.branch))
            continue;
        const bool branchRoot = matchedPath == target.svnPrefix && target.pathInBranch.isEmpty();
        if (!branchRoot) {
            if (Repository::Transaction *open = openTransaction(target))
                open->recordMergeInfoChange(MergeInfoChange());
            continue;
        }
        MergeInfoChange change;
        const MergeInfo::Sources growth = now.growthSince(before);
        for (auto source = growth.cbegin(); source != growth.cend(); ++source) {
            const QString branch = mergeSourceBranch(ruleList, source.key(),
                                                     source.value().last(), target, pool);
            if (branch != target.branch)
                change.sources.append({source.key(), branch, source.value(),
                                       now.sources().value(source.key())});
        }
        Result<Repository::Transaction *> opened = transactionFor(target, repository);
        if (!opened)
            return opened.status();
        m_needCommit = true;
        opened.value()->recordMergeInfoChange(change);
    }
    return Status();
}

Repository::Transaction *RevisionExporter::openTransaction(const RuleTarget &target) const
{
    const auto open = m_transactions.find(target.repository + QLatin1Char('\n') + target.branch);
    return open == m_transactions.end() ? nullptr : open->second.get();
}

// The branch whose root sourcePath is at revision, in the repository of
// target; empty when it is no branch root there.
QString RevisionExporter::mergeSourceBranch(const QList<MatchRule> &ruleList,
                                            const QByteArray &sourcePath, int revision,
                                            const RuleTarget &target, apr_pool_t *pool) const
{
    QString matchedPath = QString::fromUtf8(sourcePath);
    if (revision <= m_revision && RevisionQueries::isDirectoryInRevision(m_fs, revision, sourcePath.constData(), pool))
        matchedPath += QLatin1Char('/');
    const std::optional<RuleTarget> source = PathRouting::branchRoot(
            ruleList, matchedPath, revision,
            [this](const QString &name) { return effectiveRepository(name); });
    if (!source || source->effectiveRepository != target.effectiveRepository)
        return QString();
    return source->branch;
}
