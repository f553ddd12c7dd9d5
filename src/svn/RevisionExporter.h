#pragma once

#include "common/Failure.h"
#include "repository/Repository.h"
#include "rules/MatchRule.h"
#include "svn/AttributeFileWriter.h"
#include "svn/ChangedPathTable.h"
#include "svn/DirectoryFileWriter.h"
#include "svn/DispatchObserver.h"
#include "svn/ExportOptions.h"
#include "svn/ExportProgress.h"
#include "svn/FileContentsWriter.h"
#include "svn/IdentityMap.h"
#include "svn/RevisionProperties.h"
#include "svn/RuleRouter.h"
#include "svn/ScopedPool.h"
#include "svn/TransactionSet.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

class MatchCounter;

// Converts one Subversion revision: collects its changed paths, has them
// dispatched to the rules and exported into transactions, and commits them.
// Lives for one revision; owns the revision's pool, root, properties and
// open transactions.
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
    Status commitTransactions();

private:
    Result<ChangedPathTable> readChangedPaths();
    // Dispatches the changed paths to the rules and exports them.
    Status exportChanges(const ChangedPathTable &changes);

    ExportOptions m_options;
    FileContentsWriter m_fileWriter;
    DirectoryFileWriter m_directoryFiles;
    // Declared before the transactions, so that they go first.
    ScopedPool m_pool;
    TransactionSet m_transactions;
    AttributeFileWriter m_attributes;
    RevisionProperties m_properties;
    QList<QList<MatchRule>> m_matchRuleLists;
    RuleRouter m_router;
    MatchCounter *m_matchCounter = nullptr;
    svn_fs_t *m_fs;
    svn_fs_root_t *m_fsRoot = nullptr;
    int m_revision;
    bool m_needCommit = false;
    DispatchObserver *m_observer = nullptr;
    ExportProgress *m_progress = nullptr;
};
