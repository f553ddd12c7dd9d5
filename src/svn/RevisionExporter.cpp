#include "svn/RevisionExporter.h"

#include "driver/CommandLineParser.h"
#include "svn/AuthorIdentity.h"
#include "svn/SvnError.h"

#include <cstring>
#include <ctime>

#include <apr_hash.h>
#include <svn_pools.h>
#include <svn_props.h>

RevisionExporter::RevisionExporter(int revision, svn_fs_t *fs, apr_pool_t *parentPool)
    : m_pool(svn_pool_create(parentPool))
    , m_fs(fs)
    , m_revision(revision)
    , m_debugRules(optionIsSet("debug-rules"))
{
}

RevisionExporter::~RevisionExporter()
{
    // Transactions that a failed revision left uncommitted are discarded.
    qDeleteAll(m_transactions);
    m_transactions.clear();
    svn_pool_destroy(m_pool);
}

void RevisionExporter::assignSettings(const QList<QList<MatchRule>> &matchRuleLists,
                                      const QHash<QString, Repository *> &repositories,
                                      const IdentityMap &identities,
                                      const QString &identityDomain)
{
    m_matchRuleLists = matchRuleLists;
    m_repositories = repositories;
    m_identities = identities;
    m_identityDomain = identityDomain;
}

bool RevisionExporter::optionIsSet(const char *name)
{
    CommandLineParser *parser = CommandLineParser::instance();
    return parser && parser->contains(QString::fromLatin1(name));
}

int RevisionExporter::openRevisionRoot()
{
    if (svn_error_t *error = svn_fs_revision_root(&m_fsRoot, m_fs, m_revision, m_pool))
        return reportSvnError(error);
    return 0;
}

int RevisionExporter::readRevisionProperties()
{
    if (m_propertiesRead)
        return 0;
    apr_hash_t *properties = nullptr;
    if (svn_error_t *error =
            svn_fs_revision_proplist2(&properties, m_fs, m_revision, FALSE, m_pool, m_pool))
        return reportSvnError(error);

    auto property = [properties](const char *name) {
        return static_cast<const svn_string_t *>(
                apr_hash_get(properties, name, APR_HASH_KEY_STRING));
    };
    const svn_string_t *authorValue = property(SVN_PROP_REVISION_AUTHOR);
    const svn_string_t *dateValue = property(SVN_PROP_REVISION_DATE);
    const svn_string_t *logValue = property(SVN_PROP_REVISION_LOG);

    m_logMessage = logValue ? QByteArray(logValue->data) : QByteArray();
    const QByteArray userName = authorValue ? QByteArray(authorValue->data) : QByteArray();
    m_author = authorValue ? AuthorIdentity::fromMapping(m_identities.value(userName))
                           : QByteArray();
    m_epoch = dateValue ? parseSvnDate(dateValue->data) : 0;
    if (m_author.isEmpty()) {
        m_author = userName.isEmpty() ? AuthorIdentity::defaultIdentity()
                                      : AuthorIdentity::fromUserName(userName, m_identityDomain);
    }
    m_propertiesRead = true;
    return 0;
}

uint RevisionExporter::parseSvnDate(const char *text)
{
    // The fraction of a second and the "Z" (8 characters) are dropped.
    QByteArray dateTime(text);
    dateTime.chop(8);
    struct tm brokenDown;
    std::memset(&brokenDown, 0, sizeof brokenDown);
    strptime(dateTime.constData(), "%Y-%m-%dT%H:%M:%S", &brokenDown);
    const time_t seconds = timegm(&brokenDown);
    // A broken date must not wrap round into a time far in the future.
    return seconds < 0 ? 0 : uint(seconds);
}

int RevisionExporter::commitTransactions()
{
    if (readRevisionProperties() != 0)
        return 1;
    const QList<Repository *> repositories = m_repositories.values();
    for (Repository *repository : repositories)
        repository->flushPendingUpdates();

    for (auto it = m_transactions.begin(); it != m_transactions.end();) {
        Repository::Transaction *transaction = it.value();
        transaction->setCommitter(m_author);
        transaction->setCommitTime(m_epoch);
        transaction->setMessage(m_logMessage);
        if (transaction->writeCommit() != 0)
            return 1;
        delete transaction;
        it = m_transactions.erase(it);
    }
    return 0;
}
