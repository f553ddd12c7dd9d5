#pragma once

#include "repository/BranchState.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The branches of one fast-import repository and the marks they pointed to
// revision by revision. Lookups never add a record: a record counts as a
// branch, in the collision check of every later commit among others.
class BranchTable
{
public:
    bool contains(const QString &branch) const { return m_states.contains(branch); }
    // Every branch with a record, in name order, so that every run writes
    // the same stream.
    QStringList sortedNames() const { return m_names; }
    // The first branch with a record, in name order, that cannot exist in
    // git beside the branch: one whose name is a directory prefix of the
    // branch's, or has the branch's name as one.
    std::optional<QString> collidingBranch(const QString &branch) const;

    // The mark the branch pointed to at the revision: none when the branch
    // has no record or no commit at all, 0 when it had none then (or was
    // deleted). A non-empty description gets " at rN" (and " => rM") appended.
    std::optional<int> markForRevision(const QString &branch, int revision,
                                       QByteArray &description) const;
    // The mark the branch points to now: -1 when nothing was recorded for
    // it, 0 when it was deleted or has nothing to point to.
    int headMark(const QString &branch) const;
    // The revision of the branch's last creation or reset; 0 when none is known.
    int createdRevision(const QString &branch) const;
    // The first parent of a commit made on the branch now; 0 when the commit
    // starts (or restarts) the branch.
    int commitParent(const QString &branch) const;

    // A branch the rules declare, or the default branch: it exists from the start.
    void declare(const QString &branch);
    // A commit with the mark; it starts the branch again when the branch had
    // no commit to build on.
    void recordCommit(const QString &branch, int revision, int mark);
    // A reset to the mark, 0 for a deletion or a branch made from nothing.
    void recordReset(const QString &branch, int revision, int mark);
    void recordDeletion(const QString &branch, int revision) { recordReset(branch, revision, 0); }
    // A line of the log of an earlier run: a commit, or a reset (to nothing
    // for a deletion).
    void recordLogged(const QString &branch, int revision, int mark, bool commit);

private:
    BranchState &recordOf(const QString &branch);
    void append(BranchState &state, int revision, int mark);

    QHash<QString, BranchState> m_states;
    // The keys of states in name order: commits look for collisions among
    // them, and a history has thousands of branches.
    QStringList m_names;
};
