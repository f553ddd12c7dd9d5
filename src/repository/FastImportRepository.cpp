#include "repository/FastImportRepository.h"

#include "repository/GitCommand.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QDir>
#include <QFile>

namespace {

// Runs a git command that setting up a repository depends on; a git that
// cannot start or that fails gives the repository's creation its failure.
Status runGitChecked(const QString &repositoryName, const QStringList &arguments)
{
    const GitCommand git = GitCommand::run(arguments, repositoryName);
    if (git.succeeded())
        return Status();
    const QString error = git.ran() ? QString::fromLocal8Bit(git.errorOutput()).trimmed()
                                    : git.errorString();
    return Failure() << "Cannot create repository" << repositoryName << ": git"
                     << qPrintable(arguments.join(QLatin1Char(' '))) << "failed:" << error;
}

// fast-import holds every blob smaller than core.bigFileThreshold whole in
// memory (512 MiB unless configured), in each of up to 100 processes; a larger
// blob is streamed into the pack. Bounded, a file of any size passes through
// in a few megabytes, and the objects are the same.
const char bigFileThreshold[] = "64m";

// Whether "git config" with the arguments succeeds on the repository in
// directory. --git-dir keeps git from looking for a repository in the
// directories above when the directory is none.
bool gitConfigSucceeds(const QString &directory, const QStringList &arguments)
{
    return GitCommand::run(QStringList{QStringLiteral("--git-dir=."), QStringLiteral("config")}
                                   + arguments,
                           directory)
            .succeeded();
}

} // namespace

FastImportRepository::FastImportRepository(const RepositoryRule &rule,
                                           const RepositoryOptions &options)
    : m_options(options), m_repositoryName(rule.name), m_importProcess(rule.name, options),
      m_messageFilter(options.messageFilter)
{
    m_importProcess.setStartAction([this] { announceBranches(); });
    for (const DeclaredBranch &branch : rule.branches)
        m_branches.declare(branch.name);

    m_defaultBranch = QString::fromUtf8(GitCommand::run({QStringLiteral("config"),
                                                       QStringLiteral("init.defaultBranch")})
                                          .output())
                        .trimmed();
    if (m_defaultBranch.isEmpty())
        m_defaultBranch = QStringLiteral("master");
    m_branches.declare(m_defaultBranch);

    if (!m_options.writesToFile()) {
        m_importProcess.setWorkingDirectory(m_repositoryName);
        if (!QDir(m_repositoryName).exists())
            m_directorySetUp = createRepositoryDirectory(rule);
        else
            boundBigFilesUnlessConfigured();
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

Status FastImportRepository::createRepositoryDirectory(const RepositoryRule &rule)
{
    qDebug() << "Creating new repository" << m_repositoryName;
    if (!QDir().mkpath(m_repositoryName))
        return Failure() << "Cannot create the directory of repository" << m_repositoryName;
    if (Status status = runGitChecked(m_repositoryName, {QStringLiteral("--bare"), QStringLiteral("init")});
        !status)
        return status;
    if (Status status = runGitChecked(m_repositoryName, {QStringLiteral("config"),
                                                       QStringLiteral("core.ignorecase"),
                                                       QStringLiteral("false")});
        !status)
        return status;
    boundBigFiles();

    if (!rule.description.isEmpty()) {
        QFile description(m_repositoryName + QStringLiteral("/description"));
        if (!description.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || description.write(rule.description.toUtf8() + '\n') < 0)
            return Failure() << "Cannot write the description of repository" << m_repositoryName
                             << ":" << description.errorString();
    }

    // fast-import refuses to start when the file named by --import-marks is missing.
    QFile marks(RepositoryFileNames::marksFilePath(m_repositoryName));
    if (!marks.open(QIODevice::WriteOnly))
        return Failure() << "Cannot create the marks file" << marks.fileName() << "of repository"
                         << m_repositoryName << ":" << marks.errorString();
    return Status();
}

void FastImportRepository::boundBigFiles()
{
    if (!gitConfigSucceeds(m_repositoryName, {QStringLiteral("core.bigFileThreshold"),
                                            QLatin1String(bigFileThreshold)}))
        qWarning() << "WARN: could not set core.bigFileThreshold in repository" << m_repositoryName
                   << "(fast-import will hold each file below 512 MiB whole in memory)";
}

// A repository made by an older version lacks the bound; a value someone set
// on purpose is kept.
void FastImportRepository::boundBigFilesUnlessConfigured()
{
    if (!gitConfigSucceeds(m_repositoryName,
                           {QStringLiteral("--get"), QStringLiteral("core.bigFileThreshold")}))
        boundBigFiles();
}

FastImportRepository::~FastImportRepository()
{
    stopImportProcess();
}

bool FastImportRepository::ensureImportRunning()
{
    return m_importProcess.ensureRunning().ok();
}

bool FastImportRepository::passOnStream()
{
    return m_importProcess.passOn().ok();
}

void FastImportRepository::stopImportProcess()
{
    m_importProcess.stop();
}

Status FastImportRepository::finish()
{
    Status finished = writeAnnotatedTags();
    return finished.then(storeBranchNotes());
}

Status FastImportRepository::stop()
{
    stopImportProcess();
    return importStatus();
}

quint64 FastImportRepository::takeCommitMark()
{
    m_revisionSentCommands = true;
    return ++m_highestCommitMark;
}

Status FastImportRepository::importStatus() const
{
    return m_importProcess.status();
}

bool FastImportRepository::drainImportProcess(bool nameRepository)
{
    return m_importProcess.drain(nameRepository).ok();
}

bool FastImportRepository::hasBranch(const QString &branch) const
{
    return m_branches.contains(branch);
}

QByteArray FastImportRepository::noteForBranch(const QString &branch) const
{
    return m_branchNotes.value(branch);
}

void FastImportRepository::setNoteForBranch(const QString &branch, const QByteArray &note)
{
    if (hasBranch(branch))
        m_branchNotes[branch] = note;
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
