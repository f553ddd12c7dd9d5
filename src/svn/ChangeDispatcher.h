#pragma once

#include "common/Failure.h"
#include "rules/MatchRule.h"
#include "svn/ChangedPath.h"
#include "svn/ChangedPathTable.h"
#include "svn/ExportOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

class DispatchObserver;
class MatchCounter;
class PathExporter;

// Hands each changed path of one revision to the rules: finds the rule of
// every rules file that covers it, descends into directories that no rule
// takes whole, and gives the paths to export to the path exporter.
class ChangeDispatcher
{
public:
    // root is the revision's; counter and observer may be null.
    struct Settings
    {
        svn_fs_root_t *root = nullptr;
        ExportOptions options;
        MatchCounter *counter = nullptr;
        DispatchObserver *observer = nullptr;
    };

    ChangeDispatcher(const Settings &settings, const QList<QList<MatchRule>> &ruleLists,
                     PathExporter &paths);

    // Dispatches every changed path, in the table's order.
    Status dispatch(const ChangedPathTable &changes, apr_pool_t *pool);
    // Whether a path was given to export, or a directory change needs a commit.
    bool needsCommit() const { return m_needsCommit; }

private:
    Status handleChangedPath(const QByteArray &path, const PathChange &change,
                             const ChangedPathTable &changes, apr_pool_t *parentPool);
    // Whether a change of a directory is one the rules must see; some fail
    // the revision.
    Result<bool> directoryChangeMatters(const ChangedPath &changed);
    Status routeChangedPath(const ChangedPath &changed, bool isDirectory, bool wasOrIsDirectory,
                            const ChangedPathTable &changes, apr_pool_t *pool);
    // What happens when no rule of any rules file covers the path.
    Status handleUnmatchedPath(const ChangedPath &changed, apr_pool_t *pool);
    Status applyRuleAction(const ChangedPath &changed, const MatchRule &rule,
                           const QList<MatchRule> &ruleList, const ChangedPathTable &changes,
                           apr_pool_t *pool);
    Status exportPath(const ChangedPath &changed, const MatchRule &rule,
                      const QList<MatchRule> &ruleList, const ChangedPathTable &changes,
                      apr_pool_t *pool);
    Status descendIntoDirectory(const ChangedPath &changed, const QList<MatchRule> &ruleList,
                                const ChangedPathTable &changes, apr_pool_t *pool);
    // The root a changed directory is listed in; null (and nothing to
    // list) when it is no directory there.
    Result<svn_fs_root_t *> listedRoot(const ChangedPath &changed, apr_pool_t *pool);
    void printRuleDebug(const QString &matchedPath, const MatchRule &rule,
                        const char *outcome) const;

    Settings m_settings;
    svn_fs_t *m_fs;
    int m_revision;
    const QList<QList<MatchRule>> &m_ruleLists;
    PathExporter &m_paths;
    bool m_needsCommit = false;
};
