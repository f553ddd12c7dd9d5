#include "repository/CommitAncestry.h"

void CommitAncestry::record(quint64 mark, int revision, quint64 firstParent,
                            const QList<quint64> &mergeParents)
{
    // Marks beyond 32 bits are not made by any conversion; such a commit
    // stays unknown and only counts as a root.
    if (mark == 0 || mark > 0xffffffffu)
        return;
    if (m_commits.size() < mark)
        m_commits.resize(mark);
    m_commits[mark - 1] = Commit{revision, quint32(firstParent)};
    QList<quint32> merges;
    for (quint64 parent : mergeParents)
        merges.append(quint32(parent));
    if (merges.isEmpty())
        m_mergeParents.remove(quint32(mark));
    else
        m_mergeParents.insert(quint32(mark), merges);
}

void CommitAncestry::clear()
{
    m_commits = std::vector<Commit>();
    m_mergeParents.clear();
}

QList<quint64> CommitAncestry::parents(quint64 commit) const
{
    QList<quint64> result;
    if (commit == 0 || commit > m_commits.size())
        return result;
    if (const quint32 first = m_commits[commit - 1].firstParent)
        result.append(first);
    for (quint32 parent : m_mergeParents.value(quint32(commit)))
        result.append(parent);
    return result;
}

int CommitAncestry::revision(quint64 commit) const
{
    if (commit == 0 || commit > m_commits.size())
        return 0;
    return m_commits[commit - 1].revision;
}
