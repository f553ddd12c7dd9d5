#pragma once

#include "svn/IdentityMap.h"

#include <QByteArray>
#include <QList>
#include <QString>

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
