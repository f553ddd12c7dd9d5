#include "repository/BranchTable.h"

#include <algorithm>

QStringList BranchTable::sortedNames() const
{
    QStringList names = states.keys();
    std::sort(names.begin(), names.end());
    return names;
}

int BranchTable::markForRevision(const QString &branch, int revision,
                                 QByteArray &description) const
{
    const auto record = states.constFind(branch);
    if (record == states.constEnd())
        return -1;
    const BranchState &state = record.value();
    if (state.createdRevision == 0 || state.commitRevisions.isEmpty())
        return -1;

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
    const auto record = states.constFind(branch);
    if (record == states.constEnd() || record->commitMarks.isEmpty())
        return -1;
    return record->commitMarks.last();
}

int BranchTable::createdRevision(const QString &branch) const
{
    return states.value(branch).createdRevision;
}

int BranchTable::commitParent(const QString &branch) const
{
    const int head = headMark(branch);
    return head > 0 && createdRevision(branch) != 0 ? head : 0;
}

void BranchTable::declare(const QString &branch)
{
    states[branch].createdRevision = 1;
}

void BranchTable::recordCommit(const QString &branch, int revision, int mark)
{
    BranchState &state = states[branch];
    if (state.createdRevision == 0 || state.commitMarks.isEmpty() || state.commitMarks.last() == 0)
        state.createdRevision = revision;
    append(state, revision, mark);
}

void BranchTable::recordReset(const QString &branch, int revision, int mark)
{
    BranchState &state = states[branch];
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
