// Collecting a revision's changed paths and handing each one to the rules.

#include "svn/RevisionExporter.h"

#include "svn/DirectoryEntries.h"
#include "rules/MatchCounter.h"
#include "svn/MergeInfoExporter.h"
#include "svn/PathRouting.h"
#include "svn/RevisionQueries.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QDebug>


#include <apr_hash.h>
#include <svn_pools.h>

namespace {

bool endsWithBranchContainer(const QByteArray &path)
{
    return path.endsWith("/trunk") || path.endsWith("/branches") || path.endsWith("/tags");
}

} // namespace

Status RevisionExporter::collectChangedPaths()
{
    svn_fs_path_change_iterator_t *iterator = nullptr;
    if (svn_error_t *error = svn_fs_paths_changed3(&iterator, m_fsRoot, m_pool, m_pool))
        return svnFailure(error);

    ChangedPathTable changes;
    for (;;) {
        svn_fs_path_change3_t *change = nullptr;
        if (svn_error_t *error = svn_fs_path_change_get(&change, iterator))
            return svnFailure(error);
        if (!change)
            break;
        const QByteArray path(change->path.data, int(change->path.len));
        if (changes.contains(path)) {
            const QByteArray text = "\nDuplicate key found in rev "
                    + QByteArray::number(m_revision) + ": " + path
                    + "\nThis needs more code to be handled, file a bug report";
            return Failure() << text.constData();
        }
        PathChange record;
        record.kind = change->change_kind;
        record.propertiesModified = change->prop_mod;
        changes.insert(path, record);
    }

    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (Status status = handleChangedPath(it.key(), it.value(), changes); !status)
            return status;
    }
    if (!m_options.svnMergeinfo)
        return Status();
    MergeInfoExporter mergeInfo(m_fsRoot, m_matchRuleLists, m_repositories,
                                [this](const QString &name) { return effectiveRepository(name); },
                                m_transactions);
    return mergeInfo.exportChanges(changes, m_pool, &m_needCommit);
}

Status RevisionExporter::handleChangedPath(const QByteArray &path, const PathChange &change,
                                        const ChangedPathTable &changes)
{
    ScopedPool pool(m_pool.pool());
    ChangedPath changed;
    changed.path = path.constData();
    changed.matchedPath = QString::fromUtf8(path);
    changed.change = change;
    if (change.kind != svn_fs_path_change_delete) {
        if (svn_error_t *error = svn_fs_copied_from(&changed.copyFromRevision,
                                                    &changed.copyFromPath, m_fsRoot,
                                                    path.constData(), pool))
            return svnFailure(error);
    }

    svn_boolean_t isDirectory = FALSE;
    if (svn_error_t *error = svn_fs_is_dir(&isDirectory, m_fsRoot, path.constData(), pool))
        return svnFailure(error);

    bool directory = isDirectory;
    if (isDirectory) {
        Result<bool> matters = directoryChangeMatters(changed);
        if (!matters || !matters.value())
            return matters.status();
    } else if (change.kind == svn_fs_path_change_delete) {
        directory = RevisionQueries::isDirectoryInRevision(m_fs, m_revision - 1,
                                                           path.constData(), pool);
    }
    if (directory)
        changed.matchedPath += QLatin1Char('/');
    return routeChangedPath(changed, isDirectory, directory, changes, pool);
}

Result<bool> RevisionExporter::directoryChangeMatters(const ChangedPath &changed)
{
    const char *path = changed.path;
    const char *copyFromPath = changed.copyFromPath;
    const int copyFromRevision = int(changed.copyFromRevision);
    const bool noSource = copyFromPath == nullptr;
    const svn_fs_path_change_kind_t kind = changed.change.kind;
    if (kind == svn_fs_path_change_add && noSource && m_options.emptyDirs) {
        if (endsWithBranchContainer(path))
            return false;
        m_needCommit = true;
    } else if ((kind == svn_fs_path_change_modify || kind == svn_fs_path_change_add
                || kind == svn_fs_path_change_replace)
               && noSource && m_options.svnIgnore) {
        m_needCommit = true;
    } else if ((kind == svn_fs_path_change_modify || kind == svn_fs_path_change_add)
               && noSource) {
        return false;
    } else if (kind == svn_fs_path_change_modify || kind == svn_fs_path_change_add) {
        qDebug() << "   " << path << "was copied from" << copyFromPath << "rev"
                 << copyFromRevision;
    } else if (kind == svn_fs_path_change_replace && !noSource) {
        qDebug() << "   " << path << "was replaced from" << copyFromPath << "rev"
                 << copyFromRevision;
    } else if (kind == svn_fs_path_change_replace) {
        qDebug() << "   " << path << "was replaced";
    } else if (kind == svn_fs_path_change_reset) {
        return Failure() << "   " << path << "was reset, panic!";
    } else {
        return Failure() << "   " << path << "has unhandled change kind " << int(kind)
                         << ", panic!";
    }
    return true;
}

Status RevisionExporter::routeChangedPath(const ChangedPath &changed, bool isDirectory,
                                          bool wasOrIsDirectory,
                                          const ChangedPathTable &changes, apr_pool_t *pool)
{
    const QString &matchedPath = changed.matchedPath;
    const bool deletion = changed.change.kind == svn_fs_path_change_delete;
    const bool deletedDirectory = wasOrIsDirectory && deletion;
    bool handled = false;
    for (const QList<MatchRule> &ruleList : qAsConst(m_matchRuleLists)) {
        const MatchRule *rule = RevisionQueries::findMatchingRule(ruleList, matchedPath,
                                                                  m_revision, m_matchCounter);
        if (rule) {
            if (Status status = applyRuleAction(changed, *rule, ruleList, changes, pool); !status)
                return status;
            handled = true;
        } else if (isDirectory && changed.copyFromPath) {
            qDebug() << matchedPath << "is a copy-with-history, auto-recursing";
            if (m_observer)
                m_observer->uncoveredPath(m_revision, matchedPath, false);
            if (Status status = descendIntoDirectory(changed, ruleList, changes, pool); !status)
                return status;
            handled = true;
        } else if (deletedDirectory) {
            qDebug() << matchedPath << "deleted, auto-recursing";
            if (Status status = descendIntoDirectory(changed, ruleList, changes, pool); !status)
                return status;
            handled = true;
        }
    }
    if (handled)
        return Status();

    if (RevisionQueries::isDirectoryInRevision(m_fs, m_revision - 1, changed.path, pool)) {
        qDebug() << matchedPath << "was a directory; ignoring";
        return Status();
    }
    if (deletion) {
        qDebug() << matchedPath << "is being deleted but I don't know anything about it; ignoring";
        return Status();
    }
    if (m_observer) {
        m_observer->uncoveredPath(m_revision, matchedPath, true);
        return Status();
    }
    return Failure() << matchedPath << "did not match any rules; cannot continue";
}

void RevisionExporter::printRuleDebug(const QString &matchedPath, const MatchRule &rule,
                                      const char *outcome) const
{
    qDebug() << "rev" << m_revision << qPrintable(matchedPath) << "matched rule:"
             << rule.summary() << "  " << outcome;
}

Status RevisionExporter::applyRuleAction(const ChangedPath &changed, const MatchRule &rule,
                                         const QList<MatchRule> &ruleList,
                                         const ChangedPathTable &changes, apr_pool_t *pool)
{
    const QString &matchedPath = changed.matchedPath;
    switch (rule.action) {
    case RuleAction::Ignore:
        return Status();
    case RuleAction::Recurse:
        if (m_options.debugRules)
            printRuleDebug(matchedPath, rule, "recursing.");
        return descendIntoDirectory(changed, ruleList, changes, pool);
    case RuleAction::Export:
        if (m_options.debugRules)
            printRuleDebug(matchedPath, rule, "exporting.");
        Status exported = exportMatchedPath(changed, rule, ruleList);
        if (exported)
            return exported;
        // A refused branch name is no unknown path: descending would meet it again.
        if (changed.change.kind != svn_fs_path_change_delete || m_refNameRefused) {
            if (m_options.debugRules)
                printRuleDebug(matchedPath, rule, "Unable to export non path removal.");
            return exported;
        }
        qWarning() << "WARN: deleting unknown path" << matchedPath << "; auto-recursing";
        return descendIntoDirectory(changed, ruleList, changes, pool);
    }
    return Failure() << "Rule" << rule.summary() << "has no action";
}

Status RevisionExporter::descendIntoDirectory(const ChangedPath &changed,
                                              const QList<MatchRule> &ruleList,
                                              const ChangedPathTable &changes, apr_pool_t *pool)
{
    const char *path = changed.path;
    const char *copyFromPath = changed.copyFromPath;
    // A deleted directory is listed as it was before its deletion.
    svn_fs_root_t *root = m_fsRoot;
    if (changed.change.kind == svn_fs_path_change_delete) {
        if (svn_error_t *error = svn_fs_revision_root(&root, m_fs, m_revision - 1, pool))
            return svnFailure(error);
    }

    svn_node_kind_t kind = svn_node_none;
    if (svn_error_t *error = svn_fs_check_path(&kind, root, path, pool))
        return svnFailure(error);
    if (kind == svn_node_none) {
        qWarning() << "WARN: Trying to recurse using a nonexistant path" << path << ", ignoring";
        return Status();
    }
    if (kind != svn_node_dir) {
        qWarning() << "WARN: Trying to recurse using a non-directory path" << path
                   << ", ignoring";
        return Status();
    }

    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, root, path, pool))
        return svnFailure(error);
    const QMap<QByteArray, const svn_fs_dirent_t *> sorted = sortedEntries(entries, pool);

    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        entryPool.clear();
        const QByteArray entryPath = QByteArray(path) + '/' + it.key();
        const QByteArray entryCopyFromPath =
                copyFromPath ? QByteArray(copyFromPath) + '/' + it.key() : QByteArray();

        const auto listed = changes.constFind(entryPath);
        if (listed != changes.cend() && listed->kind == svn_fs_path_change_add) {
            qDebug() << QString::fromUtf8(entryPath) << "rev" << m_revision
                     << "is in the change-list, deferring to that one";
            continue;
        }

        const bool isDirectory = it.value()->kind == svn_node_dir;
        ChangedPath entry = changed;
        entry.path = entryPath.constData();
        entry.matchedPath = QString::fromUtf8(entryPath);
        if (isDirectory)
            entry.matchedPath += QLatin1Char('/');
        entry.copyFromPath = copyFromPath ? entryCopyFromPath.constData() : nullptr;

        Status result;
        if (const MatchRule *rule =
                    RevisionQueries::findMatchingRule(ruleList, entry.matchedPath, m_revision,
                                                      m_matchCounter)) {
            result = applyRuleAction(entry, *rule, ruleList, changes, entryPool);
        } else if (isDirectory) {
            qDebug() << entry.matchedPath << "rev" << m_revision
                     << "did not match any rules; auto-recursing";
            result = descendIntoDirectory(entry, ruleList, changes, entryPool);
        }
        if (!result)
            return result;
    }
    return Status();
}
