#pragma once

#include "svn/RevisionRanges.h"

#include <QByteArray>
#include <QMap>

// What a directory says it has merged: per source path, the revisions merged
// into it. Read from svn:mergeinfo ("/branches/b:3-5,9*" lines) and from
// svnmerge.py's svnmerge-integrated ("/branches/b:3-5,9" words). Ranges
// marked non-inheritable ("*") were merged into this directory only, not into
// the tree below it, so they are left out. Entries that cannot be read are
// left out too.
class MergeInfo
{
public:
    // Source path, in byte order, to the revisions merged from it.
    using Sources = QMap<QByteArray, RevisionRanges>;

    static MergeInfo fromMergeinfo(const QByteArray &value);
    static MergeInfo fromSvnmergeIntegrated(const QByteArray &value);
    // Both properties of one directory; either may be empty.
    static MergeInfo fromProperties(const QByteArray &mergeinfo,
                                    const QByteArray &svnmergeIntegrated);

    const Sources &sources() const { return m_sources; }
    bool isEmpty() const { return m_sources.isEmpty(); }
    // Per source path, the revisions this value has and older lacks.
    Sources growthSince(const MergeInfo &older) const;

    bool operator==(const MergeInfo &other) const { return m_sources == other.m_sources; }

private:
    void addEntry(const QByteArray &entry);

    Sources m_sources;
};
