#include "repository/BranchTable.h"

#include <algorithm>

std::optional<QString> BranchTable::collidingBranch(const QString &branch) const
{
    // A directory prefix sorts before the names it is a prefix of, and a
    // shorter one before a longer one.
    for (qsizetype slash = branch.indexOf(QLatin1Char('/')); slash >= 0;
         slash = branch.indexOf(QLatin1Char('/'), slash + 1)) {
        const QString prefix = branch.left(slash);
        if (m_states.contains(prefix))
            return prefix;
    }
    // The names inside the branch's directory follow one another.
    const QString directory = branch + QLatin1Char('/');
    const auto inside = std::lower_bound(m_names.cbegin(), m_names.cend(), directory);
    if (inside != m_names.cend() && inside->startsWith(directory))
        return *inside;
    return std::nullopt;
}

BranchState &BranchTable::recordOf(const QString &branch)
{
    const auto found = m_states.find(branch);
    if (found != m_states.end())
        return found.value();
    m_names.insert(std::lower_bound(m_names.begin(), m_names.end(), branch) - m_names.begin(), branch);
    return m_states[branch];
}

std::optional<int> BranchTable::markForRevision(const QString &branch, int revision,
                                                QByteArray &description) const
{
    const auto record = m_states.constFind(branch);
    if (record == m_states.constEnd())
        return std::nullopt;
    const BranchState &state = record.value();
    if (state.createdRevision == 0 || state.commitRevisions.isEmpty())
        return std::nullopt;

    if (revision == state.commitRevisions.last())
        return state.commitMarks.last();

    // Last recorded revision at or before the one asked for.
    const auto after = std::upper_bound(state.commitRevisions.constBegin(),
                                        state.commitRevisions.constEnd(), revision);
    if (after == state.commitRevisions.constBegin())
        return 0;
    const qsizetype found = (after - state.commitRevisions.constBegin()) - 1;

    if (!description.isEmpty()) {
        description += " at r" + QByteArray::number(revision);
        if (state.commitRevisions.at(found) != revision)
            description += " => r" + QByteArray::number(state.commitRevisions.at(found));
    }
    return state.commitMarks.at(found);
}

int BranchTable::headMark(const QString &branch) const
{
    const auto record = m_states.constFind(branch);
    if (record == m_states.constEnd() || record->commitMarks.isEmpty())
        return -1;
    return record->commitMarks.last();
}

int BranchTable::createdRevision(const QString &branch) const
{
    return m_states.value(branch).createdRevision;
}

int BranchTable::commitParent(const QString &branch) const
{
    const int head = headMark(branch);
    return head > 0 && createdRevision(branch) != 0 ? head : 0;
}

void BranchTable::declare(const QString &branch)
{
    recordOf(branch).createdRevision = 1;
}

void BranchTable::recordCommit(const QString &branch, int revision, int mark)
{
    BranchState &state = recordOf(branch);
    if (state.createdRevision == 0 || state.commitMarks.isEmpty() || state.commitMarks.last() == 0)
        state.createdRevision = revision;
    append(state, revision, mark);
}

void BranchTable::recordReset(const QString &branch, int revision, int mark)
{
    BranchState &state = recordOf(branch);
    state.createdRevision = revision;
    append(state, revision, mark);
}

void BranchTable::recordLogged(const QString &branch, int revision, int mark, bool commit)
{
    if (!commit)
        recordReset(branch, revision, mark);
    else
        recordCommit(branch, revision, mark);
}

void BranchTable::append(BranchState &state, int revision, int mark)
{
    state.commitRevisions.append(revision);
    state.commitMarks.append(mark);
}
