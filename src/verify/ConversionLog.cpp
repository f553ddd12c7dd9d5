#include "verify/ConversionLog.h"

#include "repository/ConversionLogLine.h"

#include <QSet>

namespace {

// Puts state in list, where a state of the same branch takes its mark.
void putState(QList<ConversionLog::State> *list, const ConversionLog::State &state)
{
    for (ConversionLog::State &known : *list) {
        if (known.branch == state.branch) {
            known.mark = state.mark;
            return;
        }
    }
    list->append(state);
}

} // namespace

bool ConversionLog::readLine(QFile &file, State *state)
{
    while (!file.atEnd()) {
        const ConversionLogLine line = ConversionLogLine::parse(file.readLine());
        if (line.kind() != ConversionLogLine::Kind::Branch)
            continue;
        state->revision = line.revision();
        state->branch = line.branch();
        state->mark = line.mark();
        return true;
    }
    return false;
}

// A run resumed after a crash does some revisions again and records them
// again: the last line of a revision and branch holds. Lines below the highest
// revision recorded so far are kept aside (they are few) and put in place
// when the stream reaches their revision.
Status ConversionLog::read(const QString &logFile, const QString &marksFile)
{
    m_log.setFileName(logFile);
    if (!m_log.open(QIODevice::ReadOnly))
        return Failure::fatal(QStringLiteral("cannot read the log file %1: %2")
                                      .arg(logFile, m_log.errorString()));
    State state;
    int highest = 0;
    QSet<QString> branchesAtHighest;
    while (readLine(m_log, &state)) {
        State &last = m_lastStates[state.branch];
        if (last.branch.isEmpty() || state.revision >= last.revision)
            last = state;
        if (state.revision < highest) {
            putState(&m_late[state.revision], state);
            continue;
        }
        if (state.revision > highest) {
            highest = state.revision;
            branchesAtHighest.clear();
        }
        if (!branchesAtHighest.contains(state.branch)) {
            branchesAtHighest.insert(state.branch);
            ++m_stateCount;
        }
    }
    for (const QList<State> &late : std::as_const(m_late))
        m_stateCount += int(late.size());
    m_log.seek(0);

    if (Status opened = m_marks.open(marksFile); !opened && !m_lastStates.isEmpty())
        return opened;
    return Status();
}

// The next line that is not kept aside.
bool ConversionLog::nextInOrder(State *state)
{
    if (m_peeked) {
        *state = m_peek;
        m_peeked = false;
        return true;
    }
    while (readLine(m_log, state)) {
        if (state->revision < m_highest)
            continue;
        m_highest = state->revision;
        return true;
    }
    return false;
}

// The states of the next revision: its lines in order, then those kept aside.
bool ConversionLog::fillGroup()
{
    m_group.clear();
    m_groupPosition = 0;
    State state;
    const bool inOrder = m_log.isOpen() && nextInOrder(&state);
    if (!m_late.isEmpty() && (!inOrder || m_late.firstKey() < state.revision)) {
        if (inOrder) {
            m_peek = state;
            m_peeked = true;
        }
        m_group = m_late.take(m_late.firstKey());
        return true;
    }
    if (!inOrder)
        return false;
    const int revision = state.revision;
    putState(&m_group, state);
    while (nextInOrder(&state)) {
        if (state.revision != revision) {
            m_peek = state;
            m_peeked = true;
            break;
        }
        putState(&m_group, state);
    }
    for (const State &late : m_late.take(revision))
        putState(&m_group, late);
    return true;
}

bool ConversionLog::next(State *state)
{
    while (m_groupPosition >= m_group.size()) {
        if (!fillGroup())
            return false;
    }
    *state = m_group.at(m_groupPosition++);
    return true;
}
