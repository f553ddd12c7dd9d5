#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Subversion user name to git identity ("Name <address>"), both as bytes.
using IdentityMap = QHash<QByteArray, QByteArray>;

// A line of an identity map whose identity git would refuse.
struct RejectedIdentityLine
{
    int lineNumber = 0;  // 1-based
    QByteArray text;     // as read, without its line break
};

// What an identity map file holds. Every identity in identities is one that
// git fast-import takes after "committer ".
struct IdentityMapContents
{
    IdentityMap identities;
    QList<RejectedIdentityLine> rejectedLines;
};

// Reads an identity map file; an empty name gives an empty map without a word.
IdentityMapContents readIdentityMap(const QString &fileName);
