#include "verify/RecordedGraph.h"

#include <cstring>

namespace {

quint64 keyOf(const QByteArray &raw)
{
    quint64 key = 0;
    std::memcpy(&key, raw.constData(), sizeof key);
    return key;
}

} // namespace

quint64 RecordedGraph::idOf(const QByteArray &commit) const
{
    const QByteArray raw = QByteArray::fromHex(commit);
    if (raw.size() != 20)
        return 0;
    for (auto it = m_ids.constFind(keyOf(raw)); it != m_ids.constEnd() && it.key() == keyOf(raw);
         ++it) {
        if (m_names.mid(qsizetype(it.value() - 1) * 20, 20) == raw)
            return it.value();
    }
    return 0;
}

quint64 RecordedGraph::add(const QByteArray &commit, int revision,
                                const QList<QByteArray> &parents)
{
    if (m_firstParent.empty())
        m_firstParent.push_back(0);
    for (const QByteArray &parent : parents) {
        if (const quint64 id = idOf(parent))
            m_parents.push_back(quint32(id));
    }
    QByteArray raw = QByteArray::fromHex(commit);
    raw.resize(20);
    m_names += raw;
    m_revisions.push_back(revision);
    m_firstParent.push_back(quint32(m_parents.size()));
    const quint32 id = quint32(m_revisions.size());
    m_ids.insert(keyOf(raw), id);
    return id;
}

QList<quint64> RecordedGraph::parents(quint64 commit) const
{
    QList<quint64> result;
    if (commit == 0 || commit > m_revisions.size())
        return result;
    for (quint32 i = m_firstParent[commit - 1]; i < m_firstParent[commit]; ++i)
        result.append(m_parents[i]);
    return result;
}

int RecordedGraph::revision(quint64 commit) const
{
    return commit == 0 || commit > m_revisions.size() ? 0 : m_revisions[commit - 1];
}

QByteArray RecordedGraph::nameOf(quint64 commit) const
{
    return commit == 0 || commit > m_revisions.size()
            ? QByteArray()
            : m_names.mid(qsizetype(commit - 1) * 20, 20).toHex();
}
