#include "svn/RevisionExporter.h"

#include "svn/BranchCopyExporter.h"
#include "svn/ChangeDispatcher.h"
#include "svn/MergeInfoExporter.h"
#include "svn/PathExporter.h"
#include "svn/SvnError.h"
#include "svn/TreeWriter.h"

#include <QStringList>

#include <algorithm>

RevisionExporter::RevisionExporter(int revision, svn_fs_t *fs, apr_pool_t *parentPool,
                                   const ExportOptions &options)
    : m_options(options)
    , m_fileWriter(options.dryRun, options.svnAttributes)
    , m_directoryFiles(fs, revision, options)
    , m_pool(parentPool)
    , m_attributes(options.svnAttributes, fs, revision, m_pool, m_directoryFiles)
    , m_properties(fs, revision)
    , m_router({})
    , m_fs(fs)
    , m_revision(revision)
{
}

// Transactions that a failed revision left uncommitted are discarded, before
// the revision's pool goes.
RevisionExporter::~RevisionExporter() = default;

void RevisionExporter::assignSettings(const QList<QList<MatchRule>> &matchRuleLists,
                                      const QHash<QString, Repository *> &repositories,
                                      const IdentityMap &identities,
                                      const QString &identityDomain,
                                      MatchCounter *matchCounter)
{
    m_matchRuleLists = matchRuleLists;
    m_router = RuleRouter(repositories);
    m_properties.setIdentities(identities, identityDomain);
    m_matchCounter = matchCounter;
}

Status RevisionExporter::openRevisionRoot()
{
    if (svn_error_t *error = svn_fs_revision_root(&m_fsRoot, m_fs, m_revision, m_pool))
        return svnFailure(error);
    m_attributes.setRevisionRoot(m_fsRoot);
    return Status();
}

Result<ChangedPathTable> RevisionExporter::readChangedPaths()
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
    return changes;
}

Status RevisionExporter::collectChangedPaths()
{
    const Result<ChangedPathTable> changes = readChangedPaths();
    if (!changes)
        return changes.status();
    if (Status status = exportChanges(changes.value()); !status)
        return status;
    if (!m_options.svnMergeinfo)
        return Status();
    MergeInfoExporter mergeInfo(m_fsRoot, m_matchRuleLists, m_router, m_transactions);
    return mergeInfo.exportChanges(changes.value(), m_pool, &m_needCommit);
}

Status RevisionExporter::exportChanges(const ChangedPathTable &changes)
{
    TreeWriter::Settings treeSettings;
    treeSettings.fs = m_fs;
    treeSettings.revision = m_revision;
    treeSettings.svnIgnore = m_options.svnIgnore;
    treeSettings.debugRules = m_options.debugRules;
    treeSettings.progress = m_progress;
    treeSettings.counter = m_matchCounter;
    TreeWriter trees(treeSettings, {m_fileWriter, m_directoryFiles, m_attributes});

    BranchCopyExporter branchCopies(m_fsRoot, m_options, m_router, m_matchCounter,
                                    {m_transactions, m_directoryFiles, trees});
    PathExporter::Settings pathSettings;
    pathSettings.root = m_fsRoot;
    pathSettings.revisionPool = m_pool;
    pathSettings.options = m_options;
    pathSettings.progress = m_progress;
    pathSettings.observer = m_observer;
    PathExporter paths(pathSettings, m_router,
                       {m_transactions, m_fileWriter, m_directoryFiles, m_attributes, trees,
                        branchCopies, m_properties});
    ChangeDispatcher dispatcher({m_fsRoot, m_options, m_matchCounter, m_observer},
                                m_matchRuleLists, paths);
    Status dispatched = dispatcher.dispatch(changes, m_pool);
    m_needCommit = m_needCommit || dispatcher.needsCommit();
    return dispatched;
}

Status RevisionExporter::commitTransactions()
{
    if (Status status = m_properties.read(m_pool); !status)
        return status;
    // By name, not in hash order: forwarding repositories share a stream.
    QStringList names = m_router.repositoryNames();
    std::sort(names.begin(), names.end());
    for (const QString &name : std::as_const(names)) {
        if (Status flushed = m_router.repository(name)->flushPendingUpdates(); !flushed)
            return flushed;
    }

    if (Status committed = m_transactions.commitAll(m_properties.author(), m_properties.epoch(),
                                                    m_properties.logMessage());
        !committed)
        return committed;
    for (const QString &name : std::as_const(names))
        m_router.repository(name)->finishRevision(m_revision);
    return Status();
}
