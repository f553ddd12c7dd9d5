#include "repository/FastImportRepository.h"

#include "repository/RepositoryDirectory.h"

#include <QDir>

FastImportRepository::FastImportRepository(const RepositoryRule &rule,
                                           const RepositoryOptions &options)
    : m_options(options), m_repositoryName(rule.name),
      m_defaultBranch(RepositoryDirectory::defaultBranchName()),
      m_importProcess(rule.name, options),
      m_notes(m_repositoryName, m_options, m_branches),
      m_commits(m_repositoryName, m_options, m_defaultBranch, m_branches, m_importProcess, m_notes),
      m_branchUpdates(m_repositoryName, m_options, m_branches, m_importProcess, m_notes),
      m_tags(m_repositoryName, m_options, m_branches, m_importProcess, m_notes, m_commits),
      m_resume(m_repositoryName, m_options, m_branches, m_commits, m_notes)
{
    m_importProcess.setStartAction([this] { m_branchUpdates.announceBranches(); });
    for (const DeclaredBranch &branch : rule.branches)
        m_branches.declare(branch.name);
    m_branches.declare(m_defaultBranch);

    if (!m_options.writesToFile()) {
        m_importProcess.setWorkingDirectory(m_repositoryName);
        if (!QDir(m_repositoryName).exists())
            m_directorySetUp = RepositoryDirectory::create(rule);
        else
            RepositoryDirectory::boundBigFilesUnlessConfigured(m_repositoryName);
    }
}

Result<std::unique_ptr<FastImportRepository>>
FastImportRepository::create(const RepositoryRule &rule, const RepositoryOptions &options)
{
    auto repository = std::make_unique<FastImportRepository>(rule, options);
    if (!repository->m_directorySetUp)
        return repository->m_directorySetUp.failure();
    return repository;
}

FastImportRepository::~FastImportRepository()
{
    m_importProcess.stop();
}

Result<int> FastImportRepository::prepareResume(int &cutoff, int resumeFrom)
{
    Result<int> resumed = m_resume.resumeFromStateFiles(cutoff);
    if (!resumed)
        return resumed;
    loadAnnotatedTags();
    loadBranchNotes();
    if (cutoff < resumeFrom && resumed.value() == cutoff) {
        if (Status recovered = recoverLogFile(); !recovered)
            return recovered.failure();
    }
    return resumed;
}

Status FastImportRepository::makeBranch(const QString &branch, int revision,
                                        const QString &sourceBranch, int sourceRevision,
                                        bool sourceHoldsFiles)
{
    return m_branchUpdates.makeBranch(branch, revision, sourceBranch, sourceRevision,
                                      sourceHoldsFiles);
}

Status FastImportRepository::dropBranch(const QString &branch, int revision)
{
    return m_branchUpdates.dropBranch(branch, revision);
}

Result<std::unique_ptr<Repository::Transaction>>
FastImportRepository::beginTransaction(const QString &branch, const QString &svnPrefix,
                                       int revision)
{
    return m_commits.beginTransaction(branch, svnPrefix, revision);
}

void FastImportRepository::recordAnnotatedTag(const QString &branch, const QString &svnPrefix,
                                              int revision, const QByteArray &author, uint epoch,
                                              const QByteArray &logMessage)
{
    m_tags.record(branch, svnPrefix, revision, author, epoch, logMessage);
}

Status FastImportRepository::flushPendingUpdates()
{
    // The tags are on disk before any ref of the revision can be.
    m_branchUpdates.queueDeletionCommands(m_tags.removeTagsOfDeletedRefs(
            m_branchUpdates.deletedRefs(), m_branchUpdates.revision()));
    if (Status journalled = m_tags.journalChanges(); !journalled)
        return journalled;
    if (m_branchUpdates.send())
        m_commits.noteCommandsSent();
    return Status();
}

void FastImportRepository::finishRevision(int revision)
{
    m_commits.finishRevision(revision);
}

Status FastImportRepository::finish()
{
    Status finished = writeAnnotatedTags();
    return finished.then(storeBranchNotes());
}

Status FastImportRepository::stop()
{
    m_importProcess.stop();
    return importStatus();
}

Status FastImportRepository::importStatus() const
{
    return m_importProcess.status();
}

bool FastImportRepository::usesPrefix() const
{
    return false;
}

QString FastImportRepository::name() const
{
    return m_repositoryName;
}

Repository *FastImportRepository::targetRepository()
{
    return this;
}
