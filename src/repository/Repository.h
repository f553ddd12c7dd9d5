#pragma once

#include "common/Failure.h"
#include "repository/MergeInfoChange.h"
#include "repository/RepositoryOptions.h"
#include "rules/RepositoryRule.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

class QIODevice;

// An output git repository, as the Subversion side and the driver see it.
// Fallible operations return their failure, with the message that tells why.
class Repository
{
public:
    // The commit being built for one branch of one repository in one revision.
    class Transaction
    {
    public:
        virtual ~Transaction() = default;
        virtual Status writeCommit() = 0;
        virtual void setCommitter(const QByteArray &identity) = 0;
        virtual void setCommitTime(uint seconds) = 0;
        virtual void setMessage(const QByteArray &message) = 0;
        virtual void recordMergeSource(const QString &sourceBranch, int sourceRevision) = 0;
        // The branch's mergeinfo changed in this revision: its merge parents
        // then come from mergeinfo alone, not from the merge sources of copies.
        virtual void recordMergeInfoChange(const MergeInfoChange &change) = 0;
        virtual void removePath(const QString &path) = 0;
        // Declares a file; exactly length bytes of content and then one "\n"
        // must be written into the returned device.
        virtual Result<QIODevice *> openFile(const QString &path, int mode, qint64 length) = 0;
        // A null commit means the head of the transaction's branch. False
        // when the note holds the text already and nothing was written.
        virtual bool writeNote(const QByteArray &noteText, bool append,
                               const QByteArray &commit = QByteArray()) = 0;
    };

    virtual ~Repository() = default;

    // Brings the state files into a state to resume from and loads what they
    // keep: the revision to go on from, or why that cannot be done. A cut-off
    // lowered below resumeFrom to the revision to go on from puts back the
    // log that an earlier pass saved before cutting it.
    virtual Result<int> prepareResume(int &cutoff, int resumeFrom = 0) = 0;
    // sourceHoldsFiles tells whether the copied Subversion tree holds files at
    // sourceRevision: a source without a commit then means the rules lost
    // them, while an empty source gives an empty branch.
    virtual Status makeBranch(const QString &branch, int revision, const QString &sourceBranch,
                              int sourceRevision, bool sourceHoldsFiles = true) = 0;
    virtual Status dropBranch(const QString &branch, int revision) = 0;
    virtual Result<std::unique_ptr<Transaction>> beginTransaction(const QString &branch,
                                                                  const QString &svnPrefix,
                                                                  int revision) = 0;
    virtual void recordAnnotatedTag(const QString &branch, const QString &svnPrefix, int revision,
                                    const QByteArray &author, uint epoch,
                                    const QByteArray &logMessage) = 0;
    virtual Status flushPendingUpdates() = 0;
    // After the last commit of a revision: the revision is complete in git.
    virtual void finishRevision(int revision) = 0;
    virtual bool usesPrefix() const = 0;
    virtual QString name() const = 0;
    virtual Repository *targetRepository() = 0;

    // The first failure that keeps the conversion from going on: an output
    // that ended in a way that may have lost commits, or a commit that failed.
    virtual Status importStatus() const = 0;
    // After the last revision: writes what is kept for the end of the run
    // (annotated tags, branch notes).
    virtual Status finish() = 0;
    // Then: ends the output, and tells whether it ever failed (see importStatus).
    virtual Status stop() = 0;
};

// Makes the repository a rule describes: a fast-import repository, or a
// forwarding one into an earlier repository of the table; or why it cannot.
Result<std::unique_ptr<Repository>> repositoryFromRule(const RepositoryRule &rule,
                                                       const QHash<QString, Repository *> &repositories,
                                                       const RepositoryOptions &options);
