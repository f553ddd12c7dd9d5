#pragma once

#include "common/Failure.h"
#include "repository/BlobMarkCounter.h"
#include "repository/CommitAncestry.h"
#include "repository/MessageFilter.h"
#include "repository/Repository.h"
#include "repository/RepositoryOptions.h"

#include <QString>

#include <memory>

class BranchNotes;
class BranchTable;
class FastImportProcess;

// The commits of one fast-import repository as they go into the stream: the
// transactions that write them, their marks and ancestry, the periodic
// checkpoints, and the line that ends each revision in the log.
class CommitStream
{
public:
    CommitStream(const QString &repositoryName, const RepositoryOptions &options,
                 const QString &defaultBranch, BranchTable &branches, FastImportProcess &process,
                 BranchNotes &notes);

    Result<std::unique_ptr<Repository::Transaction>> beginTransaction(const QString &branch,
                                                                      const QString &svnPrefix,
                                                                      int revision);
    // The mark of a new commit; the revision now has commands to finish.
    quint64 takeCommitMark();
    // Other commands of the revision went to the process.
    void noteCommandsSent() { m_revisionSentCommands = true; }
    // Writes the line that says every command of the revision is sent,
    // when it sent any.
    void finishRevision(int revision);

    // Resuming: the commits the log of an earlier run names.
    quint64 highestCommitMark() const { return m_highestCommitMark; }
    void setHighestCommitMark(quint64 mark) { m_highestCommitMark = mark; }
    // Kept with the option for merge parents from mergeinfo only.
    CommitAncestry &ancestry() { return m_ancestry; }

    // What a transaction works with.
    const QString &repositoryName() const { return m_repositoryName; }
    const RepositoryOptions &options() const { return m_options; }
    const QString &defaultBranch() const { return m_defaultBranch; }
    BranchTable &branches() { return m_branches; }
    FastImportProcess &process() { return m_process; }
    BranchNotes &notes() { return m_notes; }
    BlobMarkCounter &blobMarks() { return m_blobMarks; }
    MessageFilter &messageFilter() { return m_messageFilter; }

private:
    const QString m_repositoryName;
    const RepositoryOptions &m_options;
    const QString m_defaultBranch;
    BranchTable &m_branches;
    FastImportProcess &m_process;
    BranchNotes &m_notes;
    BlobMarkCounter m_blobMarks;
    CommitAncestry m_ancestry;
    MessageFilter m_messageFilter;
    quint64 m_highestCommitMark = 0;
    int m_transactionsBegun = 0;
    bool m_revisionSentCommands = false; // since the last finishRevision
};
