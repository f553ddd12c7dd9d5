#include "svn/RevisionExporter.h"

#include "svn/AuthorIdentity.h"
#include "svn/RevisionQueries.h"
#include "svn/SvnError.h"

#include <QStringList>

#include <algorithm>

#include <apr_hash.h>
#include <svn_pools.h>
#include <svn_props.h>

RevisionExporter::RevisionExporter(int revision, svn_fs_t *fs, apr_pool_t *parentPool,
                                   const ExportOptions &options)
    : m_options(options)
    , m_fileWriter(options.dryRun, options.svnAttributes)
    , m_directoryFiles(fs, revision, options)
    , m_pool(parentPool)
    , m_attributes(options.svnAttributes, fs, revision, m_pool, m_directoryFiles)
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
    m_repositories = repositories;
    m_identities = identities;
    m_identityDomain = identityDomain;
    m_matchCounter = matchCounter;
}

Status RevisionExporter::openRevisionRoot()
{
    if (svn_error_t *error = svn_fs_revision_root(&m_fsRoot, m_fs, m_revision, m_pool))
        return svnFailure(error);
    m_attributes.setRevisionRoot(m_fsRoot);
    return Status();
}

TreeWriter RevisionExporter::treeWriter()
{
    TreeWriter::Settings settings;
    settings.fs = m_fs;
    settings.revision = m_revision;
    settings.svnIgnore = m_options.svnIgnore;
    settings.debugRules = m_options.debugRules;
    settings.progress = m_progress;
    settings.counter = m_matchCounter;
    return TreeWriter(settings, {m_fileWriter, m_directoryFiles, m_attributes});
}

Status RevisionExporter::readRevisionProperties()
{
    if (m_propertiesRead)
        return Status();
    apr_hash_t *properties = nullptr;
    if (svn_error_t *error =
            svn_fs_revision_proplist2(&properties, m_fs, m_revision, FALSE, m_pool, m_pool))
        return svnFailure(error);

    auto property = [properties](const char *name) {
        return static_cast<const svn_string_t *>(
                apr_hash_get(properties, name, APR_HASH_KEY_STRING));
    };
    const svn_string_t *authorValue = property(SVN_PROP_REVISION_AUTHOR);
    const svn_string_t *dateValue = property(SVN_PROP_REVISION_DATE);
    const svn_string_t *logValue = property(SVN_PROP_REVISION_LOG);

    m_logMessage = logValue ? QByteArray(logValue->data) : QByteArray();
    const QByteArray userName = authorValue ? QByteArray(authorValue->data) : QByteArray();
    m_author = AuthorIdentity::ofAuthor(userName, m_identities, m_identityDomain);
    m_epoch = dateValue ? RevisionQueries::parseSvnDate(dateValue->data) : 0;
    m_propertiesRead = true;
    return Status();
}

Status RevisionExporter::commitTransactions()
{
    if (Status status = readRevisionProperties(); !status)
        return status;
    // By name, not in hash order: forwarding repositories share a stream.
    QStringList names = m_repositories.keys();
    std::sort(names.begin(), names.end());
    for (const QString &name : std::as_const(names)) {
        if (Status flushed = m_repositories.value(name)->flushPendingUpdates(); !flushed)
            return flushed;
    }

    if (Status committed = m_transactions.commitAll(m_author, m_epoch, m_logMessage);
        !committed)
        return committed;
    for (const QString &name : std::as_const(names))
        m_repositories.value(name)->finishRevision(m_revision);
    return Status();
}
