#pragma once

#include "repository/CommitGraph.h"

#include <QByteArray>
#include <QList>
#include <QMultiHash>

#include <vector>

// The commits of the log in the order they were recorded, numbered from
// 1: per commit its name as 20 bytes, its revision, its parents' numbers
// in one shared array and an entry of the index by name, about 60 bytes.
class RecordedGraph : public CommitGraph
{
public:
    quint64 idOf(const QByteArray &commit) const;
    quint64 add(const QByteArray &commit, int revision, const QList<QByteArray> &parents);
    QList<quint64> parents(quint64 commit) const override;
    int revision(quint64 commit) const override;
    QByteArray nameOf(quint64 commit) const;

private:
    // The first 8 bytes of a name; names that share them are told apart
    // by the whole name.
    QMultiHash<quint64, quint32> m_ids;
    QByteArray m_names; // 20 bytes each
    std::vector<int> m_revisions;
    std::vector<quint32> m_firstParent; // index into m_parents, one more than commits
    std::vector<quint32> m_parents;
};
