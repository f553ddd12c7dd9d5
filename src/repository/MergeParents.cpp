#include "repository/MergeParents.h"

#include <queue>
#include <unordered_set>

namespace {

// The commits some starting commits reach (themselves included). Parents
// have lower numbers than their children, so a commit is decided once every
// commit above it has been walked: the walk goes no deeper than the lowest
// commit asked about.
class ReachWalk
{
public:
    ReachWalk(const CommitGraph &graph, const QList<quint64> &starts) : m_graph(graph)
    {
        for (quint64 start : starts)
            visit(start);
    }

    bool reaches(quint64 commit)
    {
        while (!m_pending.empty() && m_pending.top() > commit) {
            const quint64 next = m_pending.top();
            m_pending.pop();
            for (quint64 parent : m_graph.parents(next))
                visit(parent);
        }
        return m_seen.count(commit) != 0;
    }

private:
    void visit(quint64 commit)
    {
        if (commit != 0 && m_seen.insert(commit).second)
            m_pending.push(commit);
    }

    const CommitGraph &m_graph;
    std::priority_queue<quint64> m_pending;
    std::unordered_set<quint64> m_seen;
};

} // namespace

namespace MergeParents {

Outcome judge(const CommitGraph &graph, quint64 head, quint64 tip, const RevisionRanges &merged,
              int createdRevision)
{
    ReachWalk fromHead(graph, {head});
    if (fromHead.reaches(tip))
        return Outcome::AlreadyReached;
    for (quint64 commit = tip; commit != 0;) {
        const int revision = graph.revision(commit);
        if (revision < createdRevision || fromHead.reaches(commit))
            break;
        if (!merged.contains(revision))
            return Outcome::Partial;
        const QList<quint64> parents = graph.parents(commit);
        commit = parents.isEmpty() ? 0 : parents.constFirst();
    }
    return Outcome::Parent;
}

QList<quint64> withoutRedundant(const CommitGraph &graph, quint64 head,
                                const QList<quint64> &candidates)
{
    QList<quint64> kept;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const quint64 candidate = candidates.at(i);
        if (candidate == 0 || kept.contains(candidate))
            continue;
        QList<quint64> others{head};
        for (quint64 other : candidates) {
            if (other != candidate)
                others.append(other);
        }
        if (!ReachWalk(graph, others).reaches(candidate))
            kept.append(candidate);
    }
    return kept;
}

} // namespace MergeParents
