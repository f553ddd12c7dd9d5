#include "repository/RepositoryDirectory.h"

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

// Lets fast-import stream large files instead of holding them in memory.
void boundBigFiles(const QString &repositoryName)
{
    if (!gitConfigSucceeds(repositoryName, {QStringLiteral("core.bigFileThreshold"),
                                            QLatin1String(bigFileThreshold)}))
        qWarning() << "WARN: could not set core.bigFileThreshold in repository" << repositoryName
                   << "(fast-import will hold each file below 512 MiB whole in memory)";
}

} // namespace

QString RepositoryDirectory::defaultBranchName()
{
    const QString name = QString::fromUtf8(GitCommand::run({QStringLiteral("config"),
                                                            QStringLiteral("init.defaultBranch")})
                                                   .output())
                                 .trimmed();
    return name.isEmpty() ? QStringLiteral("master") : name;
}

Status RepositoryDirectory::create(const RepositoryRule &rule)
{
    const QString &repositoryName = rule.name;
    qDebug() << "Creating new repository" << repositoryName;
    if (!QDir().mkpath(repositoryName))
        return Failure() << "Cannot create the directory of repository" << repositoryName;
    if (Status status =
                runGitChecked(repositoryName, {QStringLiteral("--bare"), QStringLiteral("init")});
        !status)
        return status;
    if (Status status = runGitChecked(repositoryName, {QStringLiteral("config"),
                                                       QStringLiteral("core.ignorecase"),
                                                       QStringLiteral("false")});
        !status)
        return status;
    boundBigFiles(repositoryName);

    if (!rule.description.isEmpty()) {
        QFile description(repositoryName + QStringLiteral("/description"));
        if (!description.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || description.write(rule.description.toUtf8() + '\n') < 0)
            return Failure() << "Cannot write the description of repository" << repositoryName
                             << ":" << description.errorString();
    }

    // fast-import refuses to start when the file named by --import-marks is missing.
    QFile marks(RepositoryFileNames::marksFilePath(repositoryName));
    if (!marks.open(QIODevice::WriteOnly))
        return Failure() << "Cannot create the marks file" << marks.fileName() << "of repository"
                         << repositoryName << ":" << marks.errorString();
    return Status();
}

void RepositoryDirectory::boundBigFilesUnlessConfigured(const QString &repositoryName)
{
    if (!gitConfigSucceeds(repositoryName,
                           {QStringLiteral("--get"), QStringLiteral("core.bigFileThreshold")}))
        boundBigFiles(repositoryName);
}
