#pragma once

#include "repository/CommitGraph.h"

#include <QHash>

#include <vector>

// The ancestry of the commits a fast-import repository wrote, by mark:
// eight bytes a commit (its revision and first parent), and a small entry
// for each further parent of a merge.
class CommitAncestry : public CommitGraph
{
public:
    void record(quint64 mark, int revision, quint64 firstParent,
                const QList<quint64> &mergeParents);
    void clear();

    QList<quint64> parents(quint64 commit) const override;
    int revision(quint64 commit) const override;

private:
    struct Commit
    {
        qint32 revision = 0;
        quint32 firstParent = 0;
    };
    std::vector<Commit> m_commits; // index: mark - 1
    QHash<quint32, QList<quint32>> m_mergeParents;
};
