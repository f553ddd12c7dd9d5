// Branches made whole by copying another branch, and the placeholders of the
// empty directories a new tree brings.

#include "svn/RevisionExporter.h"

#include "svn/DirectoryEntries.h"
#include "svn/PathRouting.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

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

Status RevisionExporter::exportWholeBranchCopy(const MatchedPath &context)
{
    const ChangedPath &changed = context.changed;
    const QString &sourcePath = context.sourcePath;
    const MatchRule &rule = context.rule;
    const QList<MatchRule> &ruleList = context.ruleList;
    const RuleTarget &target = context.target;
    const RuleTarget &sourceTarget = context.sourceTarget;
    Repository *repository = context.repository;
    apr_pool_t *pool = context.pool;
    const char *path = changed.path;
    const QString &matchedPath = changed.matchedPath;
    const char *copyFromPath = changed.copyFromPath;
    const svn_revnum_t copyFromRevision = changed.copyFromRevision;
    if (sourceTarget.branch == target.branch) {
        qDebug() << qPrintable(matchedPath) << "rev" << m_revision << "is reseating branch"
                 << qPrintable(target.branch) << "to an earlier revision"
                 << qPrintable(sourcePath) << "rev" << int(copyFromRevision);
    } else {
        qDebug() << qPrintable(target.repository) << ": branch" << qPrintable(target.branch)
                 << "is branching from" << qPrintable(sourceTarget.branch);
    }

    bool sourceHoldsFiles = true;
    {
        ScopedPool sourcePool(pool);
        svn_fs_root_t *sourceRoot = nullptr;
        if (svn_error_t *error =
                    svn_fs_revision_root(&sourceRoot, m_fs, copyFromRevision, sourcePool))
            svn_error_clear(error);
        else
            sourceHoldsFiles = treeHoldsFiles(sourceRoot, copyFromPath, ruleList,
                                              int(copyFromRevision), sourcePool);
    }
    if (Status made = repository->makeBranch(target.branch, m_revision, sourceTarget.branch,
                                             int(copyFromRevision), sourceHoldsFiles);
        !made)
        return made;

    const bool emptyDirs = m_options.emptyDirs;
    if (emptyDirs) {
        Result<Repository::Transaction *> opened =
                m_transactions.open(target, repository, m_revision);
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
        addPlaceholdersForEmptySubdirs({sourceRoot, QByteArray(copyFromPath), QString(),
                                        transaction},
                                       sourcePool);
    }

    if (m_options.svnBranches) {
        Result<Repository::Transaction *> opened =
                m_transactions.open(target, repository, m_revision);
        if (!opened)
            return opened.status();
        Repository::Transaction *transaction = opened.value();
        if (m_options.debugRules)
            qDebug() << "Create a true SVN copy of branch (" << path << "->" << target.branch
                     << target.pathInBranch << ")";
        const DumpTarget branch{m_fsRoot, QByteArray(path), target.pathInBranch, transaction};
        transaction->removePath(target.pathInBranch);
        m_directoryFiles.addEmptyDirPlaceholder(branch, pool);
        if (Status status = treeWriter().write(branch, rule, ruleList, false, pool); !status)
            return status;
        if (emptyDirs)
            addPlaceholdersForEmptySubdirs(branch, pool);
    }

    return recordAnnotatedTagIfWanted(rule, target, repository);
}

bool RevisionExporter::treeHoldsFiles(svn_fs_root_t *root, const QByteArray &path,
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

void RevisionExporter::addPlaceholdersForEmptySubdirs(const DumpTarget &directory,
                                                      apr_pool_t *pool)
{
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error =
                svn_fs_dir_entries(&entries, directory.root, directory.svnPath.constData(), pool)) {
        svn_error_clear(error);
        return;
    }
    const QMap<QByteArray, const svn_fs_dirent_t *> sorted = sortedEntries(entries, pool);

    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        if (it.value()->kind != svn_node_dir)
            continue;
        entryPool.clear();
        const DumpTarget subdirectory{
                directory.root, directory.svnPath + '/' + it.key(),
                directory.gitPath + QString::fromUtf8(it.key()) + QLatin1Char('/'),
                directory.transaction};
        if (!m_directoryFiles.writeGitignore(subdirectory, nullptr, entryPool))
            addPlaceholdersForEmptySubdirs(subdirectory, entryPool);
    }
}
