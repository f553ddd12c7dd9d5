#pragma once

#include "repository/AnnotatedTag.h"
#include "repository/BlobMarkCounter.h"
#include "repository/BranchTable.h"
#include "repository/CommitAncestry.h"
#include "repository/FastImportProcess.h"
#include "repository/MessageFilter.h"
#include "repository/Repository.h"
#include "repository/RepositoryOptions.h"
#include "repository/ResumeScanner.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class QFile;

// A git repository written through a "git fast-import" child process (or
// through "cat" into a file in the dry-run and create-dump modes).
class FastImportRepository : public Repository
{
public:
    // The commit being built for one branch in one revision.
    class Transaction : public Repository::Transaction
    {
    public:
        Transaction(FastImportRepository *repository, const QString &branch,
                    const QString &svnPrefix, int revision);
        ~Transaction() override;

        Status writeCommit() override;
        void setCommitter(const QByteArray &identity) override;
        void setCommitTime(uint seconds) override;
        void setMessage(const QByteArray &message) override;
        void recordMergeSource(const QString &sourceBranch, int sourceRevision) override;
        void recordMergeInfoChange(const MergeInfoChange &change) override;
        void removePath(const QString &path) override;
        Result<QIODevice *> openFile(const QString &path, int mode, qint64 length) override;
        bool writeNote(const QByteArray &noteText, bool append,
                       const QByteArray &commit = QByteArray()) override;

    private:
        // What the branch's mergeinfo gives: the merge parents, and a
        // metadata line for each merge that made none.
        struct MergeInfoParents
        {
            QList<int> parents;
            QByteArray metadata;
        };

        Status checkBranchCollision() const;
        Result<QByteArray> commitMessage(const QByteArray &mergeMetadata) const;
        MergeInfoParents mergeInfoParents(int head) const;
        int chooseParent(int commitMark);
        QList<int> writeMergeParents(int parentMark);
        void writeDeletions();

        FastImportRepository *m_repository; // not owned
        QByteArray m_branch;
        QByteArray m_svnPrefix;
        QByteArray m_committer;
        QByteArray m_message;
        uint m_commitTime = 0;
        int m_revision;
        QList<int> m_mergeMarks;
        // Set when the branch's mergeinfo changed: it alone gives the merge parents.
        bool m_parentsFromMergeInfo = false;
        MergeInfoChange m_mergeInfo;
        QStringList m_removedPaths;
        QByteArray m_fileCommands;
    };

    static constexpr quint64 notesCommitMark = 18446744073709551615ull;

    // Makes the repository, and its directory with a bare git repository in
    // it when the directory does not exist yet; create() also says why that
    // failed.
    FastImportRepository(const RepositoryRule &rule, const RepositoryOptions &options);
    static Result<std::unique_ptr<FastImportRepository>> create(const RepositoryRule &rule,
                                                                const RepositoryOptions &options);

    ~FastImportRepository() override;
    Result<int> prepareResume(int &cutoff, int resumeFrom = 0) override;
    Status makeBranch(const QString &branch, int revision, const QString &sourceBranch,
                      int sourceRevision, bool sourceHoldsFiles = true) override;
    Status dropBranch(const QString &branch, int revision) override;
    Result<std::unique_ptr<Repository::Transaction>> beginTransaction(const QString &branch,
                                                                      const QString &svnPrefix,
                                                                      int revision) override;
    void recordAnnotatedTag(const QString &branch, const QString &svnPrefix, int revision,
                            const QByteArray &author, uint epoch,
                            const QByteArray &logMessage) override;
    Status flushPendingUpdates() override;
    void finishRevision(int revision) override;
    bool usesPrefix() const override;
    QString name() const override;
    Repository *targetRepository() override;
    Status importStatus() const override;
    Status finish() override;
    // Stops the process: the first end of it that may have lost commits
    // (failure status, signal, or termination after the time-out), which was
    // reported when it happened.
    Status stop() override;

    // The steps of prepareResume and finish, one by one.
    void loadAnnotatedTags();
    void loadBranchNotes();
    // Puts back the log saved before it was cut; a log that cannot be put
    // back fails the resume.
    Status recoverLogFile();
    Status writeAnnotatedTags();
    Status storeBranchNotes();

    // Sends the head of every branch to a newly started process.
    void announceBranches();
    bool hasBranch(const QString &branch) const;
    QByteArray noteForBranch(const QString &branch) const;
    void setNoteForBranch(const QString &branch, const QByteArray &note);

    // The mark the branch pointed to at the revision: none when the branch
    // has no record or no commit at all, 0 when it had none then (or was
    // deleted). A non-empty description gets " at rN" (and " => rM") appended.
    std::optional<int> markForRevision(const QString &branch, int revision,
                                       QByteArray &description) const;

    // Marks the repository as most recently used and starts its process if
    // needed. False when the process died (or never started): it is reported
    // once and not started again, since what it was sent is lost.
    bool ensureImportRunning();
    // Passes the stream on to the process whenever a chunk of it is ready;
    // false, after reporting it, when the process has failed.
    bool passOnStream();
    // Lets a running process finish (with a checkpoint) and forgets it.
    void stopImportProcess();


    // The branch a new repository starts with ("master" unless git says otherwise).
    QString defaultBranchName() const { return m_defaultBranch; }

private:
    Status createRepositoryDirectory(const RepositoryRule &rule);
    // Lets fast-import stream large files instead of holding them in memory.
    void boundBigFiles();
    void boundBigFilesUnlessConfigured();
    // The mark of a new commit; the revision now has commands to finish.
    quint64 takeCommitMark();
    void queueBranchReset(const QString &branch, int revision, int mark,
                          const QByteArray &resetFrom, const QByteArray &comment);
    // Waits without time limit until the process has taken every buffered
    // byte; a failed wait is reported and makes the run fail.
    bool drainImportProcess(bool nameRepository);
    bool readLastValidMark(quint64 &lastValidMark) const;
    bool marksFileIsWellFormed() const;
    Status setAsideDamagedMarksFile() const;
    Result<int> resumeFromStateFiles(int &cutoff);
    Result<int> resumeFromLog(int &cutoff);
    ResumeScanner::LogScan scanLog(QFile &logFile, quint64 lastValidMark, int &cutoff);
    int firstRevisionWithoutNote(const ResumeScanner::LogScan &scan) const;
    QHash<quint64, QByteArray> marksFileObjects() const;
    bool notesCommitIsKnown() const;
    QHash<QByteArray, QByteArray> notesInGit(const QHash<quint64, QByteArray> &marks) const;
    void recoverAnnotatedTagsFromGit();
    void dropTagsBeyondTheLog();
    void removeTagsOfDeletedRefs();
    Status journalTagChanges();
    void writeAnnotatedTag(const QString &name, const AnnotatedTag &tag);
    Status saveAnnotatedTags();
    bool hasLiveHead(const QString &branch) const;
    void takeBranchNotesFromGit();
    Status cutLog(QFile &logFile, qint64 position, int cutoff);

    const RepositoryOptions m_options;
    Status m_directorySetUp; // of a directory the constructor created
    QString m_defaultBranch;
    BranchTable m_branches;
    // Kept with the option for merge parents from mergeinfo only.
    CommitAncestry m_ancestry;
    QHash<QString, AnnotatedTag> m_annotatedTags;
    QHash<QString, QByteArray> m_branchNotes;
    QString m_repositoryName;
    FastImportProcess m_importProcess;
    int m_transactionsBegun = 0;
    QByteArray m_pendingDeletions;
    QByteArray m_pendingResets;
    QSet<QString> m_deletedRefs;
    QSet<QString> m_resetRefs;
    MessageFilter m_messageFilter;
    quint64 m_highestCommitMark = 0;
    BlobMarkCounter m_blobMarks;
    // The revision from which the log lets the conversion go on; 0 until
    // prepareResume has read it.
    int m_resumeRevision = 0;
    // Tags recorded or removed since the journal was last written, and the
    // revision that changed them.
    QSet<QString> m_changedTags;
    int m_tagChangeRevision = 0;
    int m_pendingUpdatesRevision = 0; // of the branch updates queued last
    bool m_revisionSentCommands = false; // since the last finishRevision
};
