// Branches made whole by copying another branch, and the search for the
// source of a copy.

#include "svn/BranchCopyExporter.h"

#include "svn/DirectoryEntries.h"
#include "svn/DirectoryFileWriter.h"
#include "svn/PathRouting.h"
#include "svn/RevisionQueries.h"
#include "svn/RuleRouter.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"
#include "svn/TransactionSet.h"
#include "svn/TreeWriter.h"

#include <QDebug>

namespace {

// Whether the first rule covering the path at the revision ignores it. Not
// counted in the rule statistics: nothing is exported here.
bool ignoredByRules(const QList<MatchRule> &ruleList, const QString &matchedPath, int revision)
{
    const MatchRule *rule = PathRouting::firstMatchingRule(ruleList, matchedPath, revision);
    return rule && rule->action == RuleAction::Ignore;
}

} // namespace

BranchCopyExporter::BranchCopyExporter(svn_fs_root_t *root, const ExportOptions &options,
                                       const RuleRouter &router, MatchCounter *counter,
                                       const Writers &writers)
    : m_root(root)
    , m_fs(svn_fs_root_fs(root))
    , m_revision(int(svn_fs_revision_root_revision(root)))
    , m_options(options)
    , m_router(router)
    , m_counter(counter)
    , m_writers(writers)
{
}

bool BranchCopyExporter::findCopySource(MatchedPath &context) const
{
    const ChangedPath &changed = context.changed;
    const QString &matchedPath = changed.matchedPath;
    const char *copyFromPath = changed.copyFromPath;
    const svn_revnum_t copyFromRevision = changed.copyFromRevision;
    const RuleTarget &target = context.target;
    RuleTarget &sourceTarget = context.sourceTarget;

    QString &sourcePath = context.sourcePath;
    sourcePath = QString::fromUtf8(copyFromPath);
    if (RevisionQueries::isDirectoryInRevision(m_fs, copyFromRevision, copyFromPath, context.pool))
        sourcePath += QLatin1Char('/');
    int sourceMatchLength = 0;
    const MatchRule *sourceRule =
            PathRouting::copySourceRule(context.ruleList, sourcePath, int(copyFromRevision),
                                        &sourceMatchLength, m_counter);
    if (!sourceRule) {
        qWarning() << "WARN: SVN reports a \"copy from\" @" << m_revision << "from"
                   << copyFromPath << "@" << int(copyFromRevision)
                   << "but no matching rules found! Ignoring copy, treating as a "
                      "modification";
        context.mode = CopyMode::IgnoredCopy;
        return false;
    }
    context.mode = CopyMode::Copy;
    sourceTarget = m_router.target(*sourceRule, sourcePath, sourceMatchLength);
    if (matchedPath != target.svnPrefix || !target.pathInBranch.isEmpty()) {
        // A copy into a branch, not onto its root.
    } else if (sourcePath != sourceTarget.svnPrefix) {
        qDebug() << qPrintable(matchedPath) << "is a partial branch of repository"
                 << qPrintable(sourceTarget.repository) << "branch"
                 << qPrintable(sourceTarget.branch) << "subdir"
                 << qPrintable(sourceTarget.pathInBranch);
    } else if (sourceTarget.effectiveRepository != target.effectiveRepository) {
        qWarning() << "WARN:" << qPrintable(matchedPath) << "rev" << m_revision
                   << "is a cross-repository copy (from repository"
                   << qPrintable(sourceTarget.repository) << "branch"
                   << qPrintable(sourceTarget.branch) << "path"
                   << qPrintable(sourceTarget.pathInBranch) << "rev" << int(copyFromRevision)
                   << ")";
    } else if (!sourceTarget.pathInBranch.isEmpty()) {
        qDebug() << qPrintable(matchedPath)
                 << "is a branch copy which renames base directory of all contents"
                 << qPrintable(sourceTarget.pathInBranch) << "to"
                 << qPrintable(target.pathInBranch);
    } else {
        return true;
    }
    return false;
}

Status BranchCopyExporter::exportCopy(const MatchedPath &context)
{
    const RuleTarget &target = context.target;
    Repository *repository = context.repository;
    apr_pool_t *pool = context.pool;
    const char *path = context.changed.path;
    const char *copyFromPath = context.changed.copyFromPath;
    const svn_revnum_t copyFromRevision = context.changed.copyFromRevision;
    announceCopy(context);
    if (Status made = repository->makeBranch(target.branch, m_revision,
                                             context.sourceTarget.branch,
                                             int(copyFromRevision), sourceHoldsFiles(context));
        !made)
        return made;

    const bool emptyDirs = m_options.emptyDirs;
    if (emptyDirs) {
        Result<Repository::Transaction *> opened =
                m_writers.transactions.open(target, repository, m_revision);
        if (!opened)
            return opened.status();
        Repository::Transaction *transaction = opened.value();
        // The new branch's empty directories are those of the tree it was
        // made from.
        ScopedPool sourcePool(pool);
        svn_fs_root_t *sourceRoot = nullptr;
        if (svn_error_t *error =
                    svn_fs_revision_root(&sourceRoot, m_fs, copyFromRevision, sourcePool)) {
            return svnFailure(error);
        }
        m_writers.directoryFiles.addPlaceholdersForEmptySubdirs(
                {sourceRoot, QByteArray(copyFromPath), QString(), transaction}, sourcePool);
    }

    if (!m_options.svnBranches)
        return Status();
    Result<Repository::Transaction *> opened =
            m_writers.transactions.open(target, repository, m_revision);
    if (!opened)
        return opened.status();
    Repository::Transaction *transaction = opened.value();
    if (m_options.debugRules)
        qDebug() << "Create a true SVN copy of branch (" << path << "->" << target.branch
                 << target.pathInBranch << ")";
    const DumpTarget branch{m_root, QByteArray(path), target.pathInBranch, transaction};
    transaction->removePath(target.pathInBranch);
    m_writers.directoryFiles.addEmptyDirPlaceholder(branch, pool);
    if (Status status = m_writers.trees.write(branch, context.rule, context.ruleList, false, pool);
        !status)
        return status;
    if (emptyDirs)
        m_writers.directoryFiles.addPlaceholdersForEmptySubdirs(branch, pool);
    return Status();
}

void BranchCopyExporter::announceCopy(const MatchedPath &context) const
{
    const RuleTarget &target = context.target;
    const RuleTarget &sourceTarget = context.sourceTarget;
    if (sourceTarget.branch == target.branch) {
        qDebug() << qPrintable(context.changed.matchedPath) << "rev" << m_revision
                 << "is reseating branch" << qPrintable(target.branch)
                 << "to an earlier revision" << qPrintable(context.sourcePath) << "rev"
                 << int(context.changed.copyFromRevision);
    } else {
        qDebug() << qPrintable(target.repository) << ": branch" << qPrintable(target.branch)
                 << "is branching from" << qPrintable(sourceTarget.branch);
    }
}

// Whether the source of the copy holds a file the rules keep; one that
// cannot be opened counts as holding files.
bool BranchCopyExporter::sourceHoldsFiles(const MatchedPath &context) const
{
    ScopedPool sourcePool(context.pool);
    svn_fs_root_t *sourceRoot = nullptr;
    const svn_revnum_t copyFromRevision = context.changed.copyFromRevision;
    if (svn_error_t *error = svn_fs_revision_root(&sourceRoot, m_fs, copyFromRevision, sourcePool)) {
        svn_error_clear(error);
        return true;
    }
    return treeHoldsFiles(sourceRoot, context.changed.copyFromPath, context.ruleList,
                          int(copyFromRevision), sourcePool);
}

bool BranchCopyExporter::treeHoldsFiles(svn_fs_root_t *root, const QByteArray &path,
                                        const QList<MatchRule> &ruleList, int revision,
                                        apr_pool_t *pool)
{
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, root, path.constData(), pool)) {
        svn_error_clear(error);
        return true;
    }
    const QMap<QByteArray, const svn_fs_dirent_t *> sorted = sortedEntries(entries, pool);

    // Files of this directory first: most trees answer without a descent.
    QList<QByteArray> directories;
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        const QByteArray entryPath = path + '/' + it.key();
        if (it.value()->kind == svn_node_dir) {
            directories.append(entryPath);
        } else if (!ignoredByRules(ruleList, QString::fromUtf8(entryPath), revision)) {
            return true;
        }
    }

    ScopedPool entryPool(pool);
    for (const QByteArray &directory : std::as_const(directories)) {
        entryPool.clear();
        if (ignoredByRules(ruleList, QString::fromUtf8(directory + '/'), revision))
            continue;
        if (treeHoldsFiles(root, directory, ruleList, revision, entryPool))
            return true;
    }
    return false;
}
