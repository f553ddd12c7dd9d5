#pragma once

#include "repository/AnnotatedTags.h"
#include "repository/BranchNotes.h"
#include "repository/BranchTable.h"
#include "repository/BranchUpdates.h"
#include "repository/CommitStream.h"
#include "repository/FastImportProcess.h"
#include "repository/Repository.h"
#include "repository/RepositoryOptions.h"
#include "repository/RepositoryResume.h"

#include <QByteArray>
#include <QString>

#include <optional>

// A git repository written through a "git fast-import" child process (or
// through "cat" into a file in the dry-run and create-dump modes). It owns
// the parts that do the work and passes each call to the part it concerns.
class FastImportRepository : public Repository
{
public:
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
    void loadAnnotatedTags() { m_tags.load(m_resume.resumeRevision()); }
    void loadBranchNotes() { m_notes.load(); }
    // Puts back the log saved before it was cut; a log that cannot be put
    // back fails the resume.
    Status recoverLogFile() { return m_resume.recoverLogFile(); }
    Status writeAnnotatedTags() { return m_tags.write(m_branchUpdates.arePending()); }
    Status storeBranchNotes() { return m_notes.store(); }

    bool hasBranch(const QString &branch) const { return m_branches.contains(branch); }
    QByteArray noteForBranch(const QString &branch) const { return m_notes.noteFor(branch); }
    void setNoteForBranch(const QString &branch, const QByteArray &note)
    {
        m_notes.setNoteFor(branch, note);
    }
    // The mark the branch pointed to at the revision (BranchTable::markForRevision).
    std::optional<int> markForRevision(const QString &branch, int revision,
                                       QByteArray &description) const
    {
        return m_branches.markForRevision(branch, revision, description);
    }
    // Marks the repository as most recently used and starts its process if
    // needed. False when the process died (or never started): it is reported
    // once and not started again, since what it was sent is lost.
    bool ensureImportRunning() { return m_importProcess.ensureRunning().ok(); }
    // The branch a new repository starts with ("master" unless git says otherwise).
    QString defaultBranchName() const { return m_defaultBranch; }

private:
    const RepositoryOptions m_options;
    const QString m_repositoryName;
    const QString m_defaultBranch;
    Status m_directorySetUp; // of a directory the constructor created
    BranchTable m_branches;
    FastImportProcess m_importProcess;
    BranchNotes m_notes;
    CommitStream m_commits;
    BranchUpdates m_branchUpdates;
    AnnotatedTags m_tags;
    RepositoryResume m_resume;
};
