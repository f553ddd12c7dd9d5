#pragma once

#include "common/Failure.h"
#include "rules/MatchRule.h"
#include "svn/ChangedPath.h"
#include "svn/ExportOptions.h"

#include <QByteArray>
#include <QList>

#include <apr_pools.h>
#include <svn_fs.h>

class DirectoryFileWriter;
class MatchCounter;
class RuleRouter;
class TransactionSet;
class TreeWriter;

// Finds where a copied path came from and makes the branches that are
// copies of a whole other branch, at one revision.
class BranchCopyExporter
{
public:
    // What the copies are written with; borrowed.
    struct Writers
    {
        TransactionSet &transactions;
        const DirectoryFileWriter &directoryFiles;
        TreeWriter &trees;
    };

    // root is the revision's; counter may be null.
    BranchCopyExporter(svn_fs_root_t *root, const ExportOptions &options,
                       const RuleRouter &router, MatchCounter *counter, const Writers &writers);

    // Whether the copied path is a copy of a whole branch onto a branch's
    // root; settles the context's copy mode and source on the way.
    bool findCopySource(MatchedPath &context) const;
    // Makes the branch of a whole-branch copy from its source.
    Status exportCopy(const MatchedPath &context);

private:
    void announceCopy(const MatchedPath &context) const;
    bool sourceHoldsFiles(const MatchedPath &context) const;
    // Whether the tree at path in root holds a file that the rules do not
    // ignore. A tree that cannot be read counts as holding files.
    static bool treeHoldsFiles(svn_fs_root_t *root, const QByteArray &path,
                               const QList<MatchRule> &ruleList, int revision, apr_pool_t *pool);

    svn_fs_root_t *m_root;
    svn_fs_t *m_fs;
    int m_revision;
    ExportOptions m_options;
    const RuleRouter &m_router;
    MatchCounter *m_counter;
    Writers m_writers;
};
