#pragma once

#include "repository/Repository.h"
#include "rules/MatchRule.h"
#include "svn/ChangedPathTable.h"
#include "svn/RuleTarget.h"

#include <QList>
#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

// One changed path on its way through the dispatch: the path itself (an
// entry of a changed directory when the dispatch descends), how it changed
// and where it was copied from. The pointers are borrowed from the caller.
struct ChangedPath
{
    const char *path = nullptr;
    // The path as the rules see it: with a trailing "/" for a directory.
    QString matchedPath;
    PathChange change;
    // Null when the path was not copied.
    const char *copyFromPath = nullptr;
    svn_revnum_t copyFromRevision = -1;
};

// How a matched path that was copied is exported: as no copy, as a copy
// whose source no rule covers, or as a copy of a source the rules route.
enum class CopyMode { Plain, IgnoredCopy, Copy };

// One matched path on its way into a branch: the rule that matched it, where
// the rule sends it and, for a copy, where it came from.
struct MatchedPath
{
    MatchedPath(const ChangedPath &changed, const MatchRule &rule,
                const QList<MatchRule> &ruleList, apr_pool_t *pool)
        : changed(changed), rule(rule), ruleList(ruleList), pool(pool)
    {
    }

    const ChangedPath &changed;
    const MatchRule &rule;
    const QList<MatchRule> &ruleList;
    apr_pool_t *pool;
    RuleTarget target;
    Repository *repository = nullptr;
    CopyMode mode = CopyMode::Plain;
    // Of a copy whose source a rule covers.
    QString sourcePath;
    RuleTarget sourceTarget;
};
