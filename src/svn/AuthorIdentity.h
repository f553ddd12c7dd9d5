#pragma once

#include "svn/IdentityMap.h"

#include <QByteArray>
#include <QString>

// Builds the git identity ("Name <address>") of a Subversion author. The
// identity is copied verbatim into a "committer" line of the fast-import
// stream, so it must never carry a line break, and the parts built from a
// Subversion user name must not carry angle brackets either.
class AuthorIdentity
{
public:
    // The domain of addresses made from user names when none is given.
    static constexpr const char *defaultDomain = "localhost";
    // The domain as given on the command line, without '@' and surplus
    // blanks; the default domain when that leaves nothing.
    static QString domainOf(const QString &given);

    // Used for revisions without an author.
    static QByteArray defaultIdentity();

    // "user <user@domain>" for a user without a usable mapping. Line feeds and
    // carriage returns become blanks and angle brackets are dropped, in the
    // name and in the address; a name left blank gives the default identity.
    static QByteArray fromUserName(const QByteArray &userName, const QString &domain);

    // A mapped identity is used as written, except that line feeds and
    // carriage returns become blanks; a mapping left blank gives an empty
    // result (the caller then falls back to the user name).
    static QByteArray fromMapping(const QByteArray &mappedIdentity);

    // The identity of a revision whose svn:author is userName (empty for
    // none): its mapping in identities when that is usable, else one made
    // from the user name and domain, else the default identity.
    static QByteArray ofAuthor(const QByteArray &userName, const IdentityMap &identities,
                               const QString &domain);
};
