#include "repository/CommitStream.h"

#include "repository/BranchTable.h"
#include "repository/ConversionLogLine.h"
#include "repository/FastImportProcess.h"
#include "repository/FastImportStream.h"
#include "repository/FastImportTransaction.h"

#include <QDebug>

CommitStream::CommitStream(const QString &repositoryName, const RepositoryOptions &options,
                           const QString &defaultBranch, BranchTable &branches,
                           FastImportProcess &process, BranchNotes &notes)
    : m_repositoryName(repositoryName), m_options(options), m_defaultBranch(defaultBranch),
      m_branches(branches), m_process(process), m_notes(notes),
      m_messageFilter(options.messageFilter)
{
}

Result<std::unique_ptr<Repository::Transaction>>
CommitStream::beginTransaction(const QString &branch, const QString &svnPrefix, int revision)
{
    // A line feed in a ref would end the command early and turn the rest of
    // the name into a stream command of its own.
    if (FastImportStream::containsLineFeed(branch))
        return Failure() << "Branch" << branch << "in repository" << m_repositoryName
                         << "cannot be written: a branch name must not contain a line feed";

    if (!m_branches.contains(branch))
        qWarning() << "WARN: Transaction:" << branch << "is not a known branch in repository"
                   << m_repositoryName << "\n"
                   << "Going to create it automatically";

    std::unique_ptr<Repository::Transaction> transaction =
            std::make_unique<FastImportTransaction>(*this, branch, svnPrefix, revision);

    ++m_transactionsBegun;
    int interval = m_options.commitInterval;
    if (interval < 0)
        interval = -interval;
    // An interval of 0 (or one that is not a number) means no periodic checkpoints.
    if (interval != 0 && m_transactionsBegun % interval == 0) {
        // A process that died has reported it; the run fails through its status.
        m_process.ensureRunning().ok();
        m_process.channel().writeMirrored("checkpoint\n");
        qDebug() << "checkpoint!, marks file truncated";
    }

    return transaction;
}

quint64 CommitStream::takeCommitMark()
{
    m_revisionSentCommands = true;
    return ++m_highestCommitMark;
}

// The log names each commit and reset of a revision as it goes; this line
// says that none is missing, so that a run which died between two of them
// leaves a revision that the next run converts again (Resume reads it).
void CommitStream::finishRevision(int revision)
{
    if (!m_revisionSentCommands)
        return;
    m_revisionSentCommands = false;
    // Without the line the revision is only converted again.
    if (!m_process.ensureRunning().ok())
        return;
    m_process.channel().writeMirrored(ConversionLogLine::doneLine(revision) + "\n\n");
    m_process.passOn().ok();
}
