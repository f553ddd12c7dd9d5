#pragma once

#include "common/Failure.h"
#include "repository/MessageFilter.h"
#include "svn/IdentityMap.h"
#include "svn/ScopedPool.h"
#include "verify/Difference.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

#include <svn_fs.h>

// Compares the metadata of commits and annotated tags with what the
// converter writes for their revision, built by the converter's own code:
// the identity from svn:author through the identity map and domain, the date
// from svn:date, the message from svn:log with the metadata lines and through
// the message filter.
class MetadataCheck
{
public:
    struct Options
    {
        IdentityMap identities;
        QString identityDomain;
        std::optional<QString> messageFilter;
        bool addMetadata = false;
        bool addMetadataNotes = false;
        bool svnMergeinfo = false; // commit metadata may name cherry-picks
    };

    MetadataCheck(svn_fs_t *fs, const Options &options);

    bool checksNotes() const { return m_options.addMetadataNotes; }

    // A commit made for where.branch at where.revision from the Subversion
    // path svnPrefix (null when unknown: the message is not compared when it
    // would name it), as git stores it: "author", "date" and "message"
    // differences are added to out. Fails when Subversion cannot be read or
    // the filter fails.
    Status checkCommit(const Difference &where, const QByteArray *svnPrefix,
                       const QByteArray &content, QList<Difference> *out);
    // The note of a commit made at where.revision (null when it has none):
    // the metadata line, then only cherry-pick and tag lines.
    void checkNote(const Difference &where, const QByteArray &svnPrefix,
                   const QByteArray *note, QList<Difference> *out) const;
    // A tag object made at where.revision: "tag" differences.
    Status checkTag(const Difference &where, const QByteArray &svnPrefix,
                    const QByteArray &tagName, const QByteArray &content,
                    QList<Difference> *out);

private:
    Status readRevision(int revision);
    void compareIdentity(const Difference &where, const QByteArray &role,
                         const QByteArray &found, QList<Difference> *out) const;

    svn_fs_t *m_fs;
    Options m_options;
    MessageFilter m_filter;
    ScopedPool m_pool;
    int m_revision = 0; // whose properties are read
    QByteArray m_identity;
    QByteArray m_log;
    uint m_epoch = 0;
};
