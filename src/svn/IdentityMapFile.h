#pragma once

#include "common/Failure.h"
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
// A file that cannot be read is a failure: converting with made-up identities
// instead of the ones the user meant would have to be done again.
Result<IdentityMapContents> readIdentityMap(const QString &fileName);
