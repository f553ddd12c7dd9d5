#pragma once

#include "repository/CommitGraph.h"

#include <QByteArray>
#include <QList>

#include <vector>

// The commits of the log in the order they were recorded, numbered from
// 1: per commit its name as 20 bytes, its revision, its parents' numbers
// in one shared array and a slot or two of the index by name, about 45 bytes.
class RecordedGraph : public CommitGraph
{
public:
    quint64 idOf(const QByteArray &commit) const;
    quint64 add(const QByteArray &commit, int revision, const QList<QByteArray> &parents);
    QList<quint64> parents(quint64 commit) const override;
    int revision(quint64 commit) const override;
    QByteArray nameOf(quint64 commit) const;

private:
    const char *rawName(quint32 id) const { return m_names.constData() + qsizetype(id - 1) * 20; }
    void index(quint32 id);

    // Open addressing by the first bytes of the name, which are as good as
    // random: each slot holds a commit's number, 0 when free; never more
    // than half of them are taken.
    std::vector<quint32> m_slots;
    QByteArray m_names; // 20 bytes each
    std::vector<int> m_revisions;
    std::vector<quint32> m_firstParent; // index into m_parents, one more than commits
    std::vector<quint32> m_parents;
};
