#include "verify/RecordedGraph.h"

#include <algorithm>
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
    if (raw.size() != 20 || m_slots.empty())
        return 0;
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = size_t(keyOf(raw)) & mask; m_slots[slot] != 0; slot = (slot + 1) & mask) {
        if (std::memcmp(rawName(m_slots[slot]), raw.constData(), 20) == 0)
            return m_slots[slot];
    }
    return 0;
}

// Puts commit id in the index, which doubles when half full.
void RecordedGraph::index(quint32 id)
{
    if ((size_t(id) + 1) * 2 > m_slots.size()) {
        m_slots.assign(std::max<size_t>(1024, m_slots.size() * 2), 0);
        for (quint32 known = 1; known < id; ++known)
            index(known);
    }
    const size_t mask = m_slots.size() - 1;
    size_t slot = size_t(keyOf(QByteArray::fromRawData(rawName(id), 20))) & mask;
    while (m_slots[slot] != 0)
        slot = (slot + 1) & mask;
    m_slots[slot] = id;
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
    index(id);
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
