#pragma once

#include "common/Failure.h"
#include "svn/IdentityMap.h"

#include <QByteArray>
#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

// The author, date and log message of one revision, read once when first
// wanted: the revision's commits and its annotated tags share them.
class RevisionProperties
{
public:
    RevisionProperties(svn_fs_t *fs, int revision) : m_fs(fs), m_revision(revision) {}

    // How author names become git identities.
    void setIdentities(const IdentityMap &identities, const QString &domain)
    {
        m_identities = identities;
        m_identityDomain = domain;
    }

    // Reads the properties into pool unless they are read already.
    Status read(apr_pool_t *pool);

    QByteArray author() const { return m_author; }
    QByteArray logMessage() const { return m_logMessage; }
    uint epoch() const { return m_epoch; }

private:
    svn_fs_t *m_fs;
    int m_revision;
    IdentityMap m_identities;
    QString m_identityDomain;
    QByteArray m_author;
    QByteArray m_logMessage;
    uint m_epoch = 0;
    bool m_read = false;
};
