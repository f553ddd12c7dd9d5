#pragma once

#include <QByteArray>
#include <QString>

// Builds the git identity ("Name <address>") of a Subversion author. The
// identity is copied verbatim into a "committer" line of the fast-import
// stream, so it must never carry a line break, and the parts built from a
// Subversion user name must not carry angle brackets either.
class AuthorIdentity
{
public:
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
};
