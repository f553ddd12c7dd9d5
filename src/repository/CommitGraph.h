#pragma once

#include <QList>

// The commits of one git repository as the merge-parent decision sees them.
// Commits are numbered from 1 so that every parent has a lower number than
// its children (marks in the order they were written, or a topological
// order); 0 is no commit.
class CommitGraph
{
public:
    virtual ~CommitGraph() = default;
    // The parents of commit, the first parent first; none for a root commit
    // or an unknown one.
    virtual QList<quint64> parents(quint64 commit) const = 0;
    // The Subversion revision that made commit; 0 when unknown.
    virtual int revision(quint64 commit) const = 0;
};
