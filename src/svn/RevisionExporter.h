#pragma once

#include "common/Failure.h"
#include "repository/Repository.h"
#include "rules/MatchRule.h"
#include "svn/AttributeFileWriter.h"
#include "svn/ChangedPathTable.h"
#include "svn/DirectoryFileWriter.h"
#include "svn/DispatchObserver.h"
#include "svn/DumpTarget.h"
#include "svn/ExportOptions.h"
#include "svn/ExportProgress.h"
#include "svn/FileContentsWriter.h"
#include "svn/IdentityMap.h"
#include "svn/RuleTarget.h"
#include "svn/ScopedPool.h"
#include "svn/TransactionSet.h"
#include "svn/TreeWriter.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

class MatchCounter;

// Converts one Subversion revision: collects and dispatches its changed
// paths, exports the matched ones into transactions and commits them.
// Lives for one revision; owns the revision's pool and open transactions.
class RevisionExporter
{
public:
    RevisionExporter(int revision, svn_fs_t *fs, apr_pool_t *parentPool,
                     const ExportOptions &options);
    ~RevisionExporter();

    RevisionExporter(const RevisionExporter &) = delete;
    RevisionExporter &operator=(const RevisionExporter &) = delete;

    void assignSettings(const QList<QList<MatchRule>> &matchRuleLists,
                        const QHash<QString, Repository *> &repositories,
                        const IdentityMap &identities, const QString &identityDomain,
                        MatchCounter *matchCounter = nullptr);

    // Rules checking: problems go to the observer and the dispatch goes on.
    void setDispatchObserver(DispatchObserver *observer) { m_observer = observer; }
    // The paths already warned about over the whole run, so that each
    // warning comes once; without it every revision warns anew.
    void setWarnedPaths(QSet<QByteArray> *warned) { m_attributes.setWarnedPaths(warned); }
    // Where progress marks go; without one there are none.
    void setProgress(ExportProgress *progress) { m_progress = progress; }

    Status openRevisionRoot();
    Status collectChangedPaths();
    bool needsCommit() const { return m_needCommit; }
    Status readRevisionProperties();
    Status commitTransactions();

    QByteArray author() const { return m_author; }
    QByteArray logMessage() const { return m_logMessage; }
    uint epoch() const { return m_epoch; }

private:
    enum class CopyMode { Plain, IgnoredCopy, Copy };

    // One changed path on its way through the dispatch: the path itself (an
    // entry of a changed directory when the dispatch descends), how it
    // changed and where it was copied from. The pointers are borrowed from
    // the caller.
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

    // One matched path on its way into a branch: the rule that matched it,
    // where the rule sends it and, for a copy, where it came from.
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

    // Change dispatch.
    Status handleChangedPath(const QByteArray &path, const PathChange &change,
                             const ChangedPathTable &changes);
    // Whether a change of a directory is one the rules must see; some fail
    // the revision.
    Result<bool> directoryChangeMatters(const ChangedPath &changed);
    Status routeChangedPath(const ChangedPath &changed, bool isDirectory, bool wasOrIsDirectory,
                            const ChangedPathTable &changes, apr_pool_t *pool);
    Status applyRuleAction(const ChangedPath &changed, const MatchRule &rule,
                           const QList<MatchRule> &ruleList, const ChangedPathTable &changes,
                           apr_pool_t *pool);
    Status descendIntoDirectory(const ChangedPath &changed, const QList<MatchRule> &ruleList,
                                const ChangedPathTable &changes, apr_pool_t *pool);
    void printRuleDebug(const QString &matchedPath, const MatchRule &rule,
                        const char *outcome) const;

    // Path export.
    Status exportMatchedPath(const ChangedPath &changed, const MatchRule &rule,
                             const QList<MatchRule> &ruleList);
    // Whether the path is a copy of a whole branch onto a branch's root;
    // settles the context's copy mode and source on the way.
    bool findCopySource(MatchedPath &context);
    Status writeMatchedPath(const MatchedPath &context);
    Status exportWholeBranchCopy(const MatchedPath &context);
    // Whether the tree at path in root holds a file that the rules do not
    // ignore. A tree that cannot be read counts as holding files.
    static bool treeHoldsFiles(svn_fs_root_t *root, const QByteArray &path,
                               const QList<MatchRule> &ruleList, int revision, apr_pool_t *pool);
    Status exportDirectory(const MatchedPath &context, Repository::Transaction *transaction,
                           bool *placeholderWritten);
    Status recordAnnotatedTagIfWanted(const MatchRule &rule, const RuleTarget &target,
                                    Repository *repository);
    RuleTarget computeRuleTarget(const MatchRule &rule, const QString &path,
                                 int matchLength) const;
    // The repository that receives what the rules send to the named one.
    QString effectiveRepository(const QString &name) const;
    static const MatchRule *findCopySourceRule(const QList<MatchRule> &ruleList,
                                               const QString &sourcePath, int copyFromRevision,
                                               int *matchLength, MatchCounter *counter);
    // Gives every empty directory below the directory a placeholder.
    void addPlaceholdersForEmptySubdirs(const DumpTarget &directory, apr_pool_t *pool);

    // A writer of whole trees of this revision.
    TreeWriter treeWriter();

    ExportOptions m_options;
    FileContentsWriter m_fileWriter;
    DirectoryFileWriter m_directoryFiles;
    // Declared before the transactions, so that they go first.
    ScopedPool m_pool;
    TransactionSet m_transactions;
    AttributeFileWriter m_attributes;
    QList<QList<MatchRule>> m_matchRuleLists;
    QHash<QString, Repository *> m_repositories;
    IdentityMap m_identities;
    QString m_identityDomain;
    MatchCounter *m_matchCounter = nullptr;
    svn_fs_t *m_fs;
    svn_fs_root_t *m_fsRoot = nullptr;
    int m_revision;
    QByteArray m_author;
    QByteArray m_logMessage;
    uint m_epoch = 0;
    bool m_propertiesRead = false;
    bool m_needCommit = false;
    // Set when a rule gave a branch name git refuses; it fails the revision.
    bool m_refNameRefused = false;
    DispatchObserver *m_observer = nullptr;
    ExportProgress *m_progress = nullptr;
};
