#pragma once

#include "common/Failure.h"
#include "repository/Repository.h"
#include "rules/MatchRule.h"
#include "svn/ChangedPath.h"
#include "svn/DumpTarget.h"
#include "svn/ExportOptions.h"

#include <QList>

#include <apr_pools.h>
#include <svn_fs.h>

class AttributeFileWriter;
class BranchCopyExporter;
class DirectoryFileWriter;
class DispatchObserver;
class ExportProgress;
class FileContentsWriter;
class RevisionProperties;
class RuleRouter;
class TransactionSet;
class TreeWriter;

// Exports one path of a revision that a rule matched into the transaction of
// its branch: a deletion, a file, a directory or the copy of a whole branch,
// and the annotated tag the rule asks for.
class PathExporter
{
public:
    // What the path is written with; borrowed.
    struct Writers
    {
        TransactionSet &transactions;
        const FileContentsWriter &files;
        const DirectoryFileWriter &directoryFiles;
        AttributeFileWriter &attributes;
        TreeWriter &trees;
        BranchCopyExporter &branchCopies;
        // Read when an annotated tag wants them.
        RevisionProperties &properties;
    };
    // root is the revision's; every exported path gets a pool of its own
    // from revisionPool. progress and observer may be null.
    struct Settings
    {
        svn_fs_root_t *root = nullptr;
        apr_pool_t *revisionPool = nullptr;
        ExportOptions options;
        ExportProgress *progress = nullptr;
        DispatchObserver *observer = nullptr;
    };

    PathExporter(const Settings &settings, const RuleRouter &router, const Writers &writers);

    Status exportPath(const ChangedPath &changed, const MatchRule &rule,
                      const QList<MatchRule> &ruleList);
    // Whether a rule gave a branch name git refuses; it fails the revision.
    bool refNameRefused() const { return m_refNameRefused; }

private:
    // Fails when the matched path cannot go where its rule sends it.
    Status checkTarget(const MatchedPath &context) const;
    Status writeMatchedPath(const MatchedPath &context);
    Status exportDirectory(const MatchedPath &context, Repository::Transaction *transaction,
                           bool *placeholderWritten);
    // Translates the directory's ignore properties; whether a .gitignore was
    // written.
    bool translateIgnoreRules(const DumpTarget &directory, apr_pool_t *pool) const;
    Status recordAnnotatedTagIfWanted(const MatchedPath &context);

    Settings m_settings;
    int m_revision;
    const RuleRouter &m_router;
    Writers m_writers;
    bool m_refNameRefused = false;
};
