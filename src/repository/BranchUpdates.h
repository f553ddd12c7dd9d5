#pragma once

#include "common/Failure.h"
#include "repository/RepositoryOptions.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

class BranchNotes;
class BranchTable;
class FastImportProcess;

// The branches of one fast-import repository made, moved and deleted in a
// revision: their resets wait until the revision's commit step begins,
// deletions first. Also tells a newly started process where every branch is.
class BranchUpdates
{
public:
    BranchUpdates(const QString &repositoryName, const RepositoryOptions &options,
                  BranchTable &branches, FastImportProcess &process, BranchNotes &notes);

    Status makeBranch(const QString &branch, int revision, const QString &sourceBranch,
                      int sourceRevision, bool sourceHoldsFiles);
    Status dropBranch(const QString &branch, int revision);

    // The refs deleted and not made again since the updates were last sent,
    // in name order.
    QStringList deletedRefs() const;
    // Further commands that go with the deletions.
    void queueDeletionCommands(const QByteArray &commands) { m_pendingDeletions += commands; }
    // The revision of the updates queued last.
    int revision() const { return m_pendingUpdatesRevision; }
    bool arePending() const { return !m_pendingDeletions.isEmpty() || !m_pendingResets.isEmpty(); }
    // Sends the queued updates; false when there were none.
    bool send();

    // Sends the head of every branch to a newly started process.
    void announceBranches();

    // The ref that keeps the old head of ref when it is deleted or moved in revision.
    static QByteArray backupRef(const QByteArray &ref, int revision, bool deleting);

private:
    void queueBranchReset(const QString &branch, int revision, int mark,
                          const QByteArray &resetFrom, const QByteArray &comment);

    const QString m_repositoryName;
    const RepositoryOptions &m_options;
    BranchTable &m_branches;
    FastImportProcess &m_process;
    BranchNotes &m_notes;
    QByteArray m_pendingDeletions;
    QByteArray m_pendingResets;
    QSet<QString> m_deletedRefs;
    QSet<QString> m_resetRefs;
    int m_pendingUpdatesRevision = 0;
};
