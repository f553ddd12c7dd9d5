#include "svn/RevisionProperties.h"

#include "svn/AuthorIdentity.h"
#include "svn/RevisionQueries.h"
#include "svn/SvnError.h"

#include <apr_hash.h>
#include <svn_props.h>

Status RevisionProperties::read(apr_pool_t *pool)
{
    if (m_read)
        return Status();
    apr_hash_t *properties = nullptr;
    if (svn_error_t *error =
            svn_fs_revision_proplist2(&properties, m_fs, m_revision, FALSE, pool, pool))
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
    m_read = true;
    return Status();
}
