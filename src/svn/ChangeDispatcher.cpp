// Handing each changed path of a revision to the rules.

#include "svn/ChangeDispatcher.h"

#include "svn/DirectoryEntries.h"
#include "svn/DispatchObserver.h"
#include "svn/PathExporter.h"
#include "svn/RevisionQueries.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QDebug>

#include <apr_hash.h>

namespace {

bool endsWithBranchContainer(const QByteArray &path)
{
    return path.endsWith("/trunk") || path.endsWith("/branches") || path.endsWith("/tags");
}

} // namespace

ChangeDispatcher::ChangeDispatcher(const Settings &settings,
                                   const QList<QList<MatchRule>> &ruleLists, PathExporter &paths)
    : m_settings(settings)
    , m_fs(svn_fs_root_fs(settings.root))
    , m_revision(int(svn_fs_revision_root_revision(settings.root)))
    , m_ruleLists(ruleLists)
    , m_paths(paths)
{
}

Status ChangeDispatcher::dispatch(const ChangedPathTable &changes, apr_pool_t *pool)
{
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (Status status = handleChangedPath(it.key(), it.value(), changes, pool); !status)
            return status;
    }
    return Status();
}

Status ChangeDispatcher::handleChangedPath(const QByteArray &path, const PathChange &change,
                                           const ChangedPathTable &changes,
                                           apr_pool_t *parentPool)
{
    ScopedPool pool(parentPool);
    svn_fs_root_t *root = m_settings.root;
    ChangedPath changed;
    changed.path = path.constData();
    changed.matchedPath = QString::fromUtf8(path);
    changed.change = change;
    if (change.kind != svn_fs_path_change_delete) {
        if (svn_error_t *error = svn_fs_copied_from(&changed.copyFromRevision,
                                                    &changed.copyFromPath, root,
                                                    path.constData(), pool))
            return svnFailure(error);
    }

    svn_boolean_t isDirectory = FALSE;
    if (svn_error_t *error = svn_fs_is_dir(&isDirectory, root, path.constData(), pool))
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

Result<bool> ChangeDispatcher::directoryChangeMatters(const ChangedPath &changed)
{
    const char *path = changed.path;
    const char *copyFromPath = changed.copyFromPath;
    const int copyFromRevision = int(changed.copyFromRevision);
    const bool noSource = copyFromPath == nullptr;
    const svn_fs_path_change_kind_t kind = changed.change.kind;
    if (kind == svn_fs_path_change_add && noSource && m_settings.options.emptyDirs) {
        if (endsWithBranchContainer(path))
            return false;
        m_needsCommit = true;
    } else if ((kind == svn_fs_path_change_modify || kind == svn_fs_path_change_add
                || kind == svn_fs_path_change_replace)
               && noSource && m_settings.options.svnIgnore) {
        m_needsCommit = true;
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

Status ChangeDispatcher::routeChangedPath(const ChangedPath &changed, bool isDirectory,
                                          bool wasOrIsDirectory,
                                          const ChangedPathTable &changes, apr_pool_t *pool)
{
    const QString &matchedPath = changed.matchedPath;
    const bool deletedDirectory =
            wasOrIsDirectory && changed.change.kind == svn_fs_path_change_delete;
    bool handled = false;
    for (const QList<MatchRule> &ruleList : qAsConst(m_ruleLists)) {
        const MatchRule *rule = RevisionQueries::findMatchingRule(
                ruleList, matchedPath, m_revision, m_settings.counter);
        Status status;
        if (rule) {
            status = applyRuleAction(changed, *rule, ruleList, changes, pool);
        } else if (isDirectory && changed.copyFromPath) {
            qDebug() << matchedPath << "is a copy-with-history, auto-recursing";
            if (m_settings.observer)
                m_settings.observer->uncoveredPath(m_revision, matchedPath, false);
            status = descendIntoDirectory(changed, ruleList, changes, pool);
        } else if (deletedDirectory) {
            qDebug() << matchedPath << "deleted, auto-recursing";
            status = descendIntoDirectory(changed, ruleList, changes, pool);
        } else {
            continue;
        }
        if (!status)
            return status;
        handled = true;
    }
    return handled ? Status() : handleUnmatchedPath(changed, pool);
}

Status ChangeDispatcher::handleUnmatchedPath(const ChangedPath &changed, apr_pool_t *pool)
{
    const QString &matchedPath = changed.matchedPath;
    if (RevisionQueries::isDirectoryInRevision(m_fs, m_revision - 1, changed.path, pool)) {
        qDebug() << matchedPath << "was a directory; ignoring";
        return Status();
    }
    if (changed.change.kind == svn_fs_path_change_delete) {
        qDebug() << matchedPath << "is being deleted but I don't know anything about it; ignoring";
        return Status();
    }
    if (m_settings.observer) {
        m_settings.observer->uncoveredPath(m_revision, matchedPath, true);
        return Status();
    }
    return Failure() << matchedPath << "did not match any rules; cannot continue";
}

void ChangeDispatcher::printRuleDebug(const QString &matchedPath, const MatchRule &rule,
                                      const char *outcome) const
{
    qDebug() << "rev" << m_revision << qPrintable(matchedPath) << "matched rule:"
             << rule.summary() << "  " << outcome;
}

Status ChangeDispatcher::applyRuleAction(const ChangedPath &changed, const MatchRule &rule,
                                         const QList<MatchRule> &ruleList,
                                         const ChangedPathTable &changes, apr_pool_t *pool)
{
    switch (rule.action) {
    case RuleAction::Ignore:
        return Status();
    case RuleAction::Recurse:
        if (m_settings.options.debugRules)
            printRuleDebug(changed.matchedPath, rule, "recursing.");
        return descendIntoDirectory(changed, ruleList, changes, pool);
    case RuleAction::Export:
        if (m_settings.options.debugRules)
            printRuleDebug(changed.matchedPath, rule, "exporting.");
        return exportPath(changed, rule, ruleList, changes, pool);
    }
    return Failure() << "Rule" << rule.summary() << "has no action";
}

Status ChangeDispatcher::exportPath(const ChangedPath &changed, const MatchRule &rule,
                                    const QList<MatchRule> &ruleList,
                                    const ChangedPathTable &changes, apr_pool_t *pool)
{
    m_needsCommit = true;
    Status exported = m_paths.exportPath(changed, rule, ruleList);
    if (exported)
        return exported;
    // A refused branch name is no unknown path: descending would meet it again.
    if (changed.change.kind != svn_fs_path_change_delete || m_paths.refNameRefused()) {
        if (m_settings.options.debugRules)
            printRuleDebug(changed.matchedPath, rule, "Unable to export non path removal.");
        return exported;
    }
    qWarning() << "WARN: deleting unknown path" << changed.matchedPath << "; auto-recursing";
    return descendIntoDirectory(changed, ruleList, changes, pool);
}

Result<svn_fs_root_t *> ChangeDispatcher::listedRoot(const ChangedPath &changed,
                                                     apr_pool_t *pool)
{
    const char *path = changed.path;
    // A deleted directory is listed as it was before its deletion.
    svn_fs_root_t *root = m_settings.root;
    if (changed.change.kind == svn_fs_path_change_delete) {
        if (svn_error_t *error = svn_fs_revision_root(&root, m_fs, m_revision - 1, pool))
            return svnFailure(error);
    }

    svn_node_kind_t kind = svn_node_none;
    if (svn_error_t *error = svn_fs_check_path(&kind, root, path, pool))
        return svnFailure(error);
    if (kind == svn_node_none) {
        qWarning() << "WARN: Trying to recurse using a nonexistant path" << path << ", ignoring";
        return static_cast<svn_fs_root_t *>(nullptr);
    }
    if (kind != svn_node_dir) {
        qWarning() << "WARN: Trying to recurse using a non-directory path" << path
                   << ", ignoring";
        return static_cast<svn_fs_root_t *>(nullptr);
    }
    return root;
}

Status ChangeDispatcher::descendIntoDirectory(const ChangedPath &changed,
                                              const QList<MatchRule> &ruleList,
                                              const ChangedPathTable &changes, apr_pool_t *pool)
{
    const char *path = changed.path;
    const char *copyFromPath = changed.copyFromPath;
    Result<svn_fs_root_t *> root = listedRoot(changed, pool);
    if (!root || !root.value())
        return root.status();
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, root.value(), path, pool))
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
        if (const MatchRule *rule = RevisionQueries::findMatchingRule(
                    ruleList, entry.matchedPath, m_revision, m_settings.counter)) {
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
