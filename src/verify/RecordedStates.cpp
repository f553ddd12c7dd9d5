#include "verify/RecordedStates.h"

RecordedStates::RecordedStates(const std::vector<std::unique_ptr<ConversionLog>> &logs,
                               bool lastOnly, int every)
    : m_logs(logs)
    , m_lastOnly(lastOnly)
    , m_every(every)
{
    m_heads.resize(int(logs.size()));
    for (int index = 0; index < int(logs.size()); ++index) {
        if (logs.at(size_t(index)))
            m_total += logs.at(size_t(index))->stateCount();
        m_heads[index].index = -1;
        advance(index);
    }
}

void RecordedStates::advance(int repositoryIndex)
{
    Head &head = m_heads[repositoryIndex];
    ConversionLog *log = m_logs.at(size_t(repositoryIndex)).get();
    head.valid = log && log->next(&head.state);
    ++head.index;
}

bool RecordedStates::next(Item *item)
{
    for (;;) {
        int earliest = -1;
        for (int index = 0; index < m_heads.size(); ++index) {
            if (m_heads.at(index).valid
                && (earliest < 0
                    || m_heads.at(index).state.revision < m_heads.at(earliest).state.revision))
                earliest = index;
        }
        if (earliest < 0)
            return false;
        const Head head = m_heads.at(earliest);
        advance(earliest);
        ++m_passed;
        const ConversionLog::State &last =
                m_logs.at(size_t(earliest))->lastStates().value(head.state.branch);
        const bool isLast = last.revision == head.state.revision;
        if (m_lastOnly && !isLast)
            continue;
        if (m_every > 0 && !isLast && (head.index + 1) % m_every != 0)
            continue;
        item->repositoryIndex = earliest;
        item->state = head.state;
        item->last = isLast;
        return true;
    }
}
