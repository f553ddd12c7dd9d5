#include "repository/FastImportRepository.h"

#include "driver/CommandLineParser.h"
#include "repository/ActiveProcessList.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <climits>

namespace {

bool importFailureSeen = false;

bool optionGiven(const char *name)
{
    return CommandLineParser::instance()->contains(QLatin1String(name));
}

bool writesToFile()
{
    return optionGiven("dry-run") || optionGiven("create-dump");
}

// Runs a short git command and waits for it without time limit; its exit
// status is not looked at.
QByteArray runGit(const QStringList &arguments, const QString &workingDirectory = QString())
{
    QProcess git;
    if (!workingDirectory.isEmpty())
        git.setWorkingDirectory(workingDirectory);
    git.start(QStringLiteral("git"), arguments);
    git.waitForFinished(-1);
    return git.readAllStandardOutput();
}

// fast-import holds every blob smaller than core.bigFileThreshold whole in
// memory (512 MiB unless configured), in each of up to 100 processes; a larger
// blob is streamed into the pack. Bounded, a file of any size passes through
// in a few megabytes, and the objects are the same.
const char bigFileThreshold[] = "64m";

// Runs a short git command on the repository in directory and waits for it
// without time limit. --git-dir keeps git from looking for a repository in
// the directories above when the directory is none.
int gitConfigExitCode(const QString &directory, const QStringList &arguments)
{
    QProcess git;
    git.setWorkingDirectory(directory);
    git.start(QStringLiteral("git"),
              QStringList{QStringLiteral("--git-dir=."), QStringLiteral("config")} + arguments);
    if (!git.waitForFinished(-1) || git.exitStatus() != QProcess::NormalExit)
        return -1;
    return git.exitCode();
}

} // namespace

FastImportRepository::FastImportRepository(const RepositoryRule &rule)
    : repositoryName(rule.name), importProcess(rule.name)
{
    for (const DeclaredBranch &branch : rule.branches)
        branchStates[branch.name].createdRevision = 1;

    defaultBranch = QString::fromUtf8(
                        runGit({QStringLiteral("config"), QStringLiteral("init.defaultBranch")}))
                        .trimmed();
    if (defaultBranch.isEmpty())
        defaultBranch = QStringLiteral("master");
    branchStates[defaultBranch].createdRevision = 1;

    if (!writesToFile()) {
        importProcess.setWorkingDirectory(repositoryName);
        if (!QDir(repositoryName).exists())
            createRepositoryDirectory(rule);
        else
            boundBigFilesUnlessConfigured();
    }
}

void FastImportRepository::createRepositoryDirectory(const RepositoryRule &rule)
{
    qDebug() << "Creating new repository" << repositoryName;
    QDir().mkpath(repositoryName);
    runGit({QStringLiteral("--bare"), QStringLiteral("init")}, repositoryName);
    runGit({QStringLiteral("config"), QStringLiteral("core.ignorecase"), QStringLiteral("false")},
           repositoryName);
    boundBigFiles();

    if (!rule.description.isEmpty()) {
        QFile description(repositoryName + QStringLiteral("/description"));
        if (description.open(QIODevice::WriteOnly | QIODevice::Truncate))
            description.write(rule.description.toUtf8() + '\n');
    }

    // fast-import refuses to start when the file named by --import-marks is missing.
    QFile marks(RepositoryFileNames::marksFilePath(repositoryName));
    marks.open(QIODevice::WriteOnly);
}

void FastImportRepository::boundBigFiles()
{
    if (gitConfigExitCode(repositoryName, {QStringLiteral("core.bigFileThreshold"),
                                           QLatin1String(bigFileThreshold)})
        != 0)
        qWarning() << "WARN: could not set core.bigFileThreshold in repository" << repositoryName
                   << "(fast-import will hold each file below 512 MiB whole in memory)";
}

// A repository made by an older version lacks the bound; a value someone set
// on purpose is kept.
void FastImportRepository::boundBigFilesUnlessConfigured()
{
    if (gitConfigExitCode(repositoryName, {QStringLiteral("--get"), QStringLiteral("core.bigFileThreshold")})
        != 0)
        boundBigFiles();
}

FastImportRepository::~FastImportRepository()
{
    stopImportProcess();
}

void FastImportRepository::ensureImportRunning()
{
    ActiveProcessList::touch(this);

    // Without an event loop the process object learns of the child's end only
    // while it waits; a zero wait lets it notice a child that died meanwhile.
    if (importProcess.state() == QProcess::Running)
        importProcess.waitForFinished(0);
    if (importProcess.state() != QProcess::NotRunning)
        return;

    if (importStarted)
        qFatal("git-fast-import has been started once and crashed?");
    importStarted = true;

    const QString marksFile = RepositoryFileNames::marksFileName(repositoryName);
    const QStringList marksArguments = {QStringLiteral("--import-marks=") + marksFile,
                                        QStringLiteral("--export-marks=") + marksFile,
                                        QStringLiteral("--force")};

    importProcess.setStandardOutputFile(RepositoryFileNames::logFileNameFor(repositoryName),
                                        QIODevice::Append);
    importProcess.setProcessChannelMode(QProcess::MergedChannels);

    if (!writesToFile())
        importProcess.start(QStringLiteral("git"),
                            QStringList(QStringLiteral("fast-import")) + marksArguments,
                            QIODevice::ReadWrite);
    else
        importProcess.start(QStringLiteral("cat"), QStringList(), QIODevice::ReadWrite);
    importProcess.waitForStarted(-1);

    announceBranches();
}

void FastImportRepository::stopImportProcess()
{
    if (importProcess.state() != QProcess::NotRunning) {
        bool isNumber = false;
        int seconds = CommandLineParser::instance()
                          ->optionValue(QStringLiteral("fast-import-timeout"), QStringLiteral("30"))
                          .toInt(&isNumber);
        if (!isNumber)
            seconds = 0;
        int limit = -1;
        if (seconds != 0) {
            qDebug() << "Waiting" << seconds << "seconds for fast-import to finish.";
            if (seconds > 0)
                limit = seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
        } else {
            qDebug() << "Waiting forever for fast-import to finish.";
        }

        importProcess.writeMirrored("checkpoint\n");
        while (importProcess.bytesToWrite() > 0 && importProcess.waitForBytesWritten(-1)) {
        }
        importProcess.closeWriteChannel();

        importProcess.waitForFinished(limit);
        if (importProcess.state() != QProcess::NotRunning) {
            importProcess.terminate();
            if (!importProcess.waitForFinished(200))
                qWarning() << "WARN: git-fast-import for repository" << repositoryName
                           << "did not die";
            qCritical() << "git-fast-import for repository" << repositoryName
                        << "did not finish in time and was terminated; commits may have been lost"
                        << "(--fast-import-timeout 0 waits as long as it takes)";
            importFailureSeen = true;
        } else {
            recordImportFailure();
        }
    } else if (importStarted) {
        recordImportFailure();
    }
    importStarted = false;
    ActiveProcessList::remove(this);
}

// Called once the process has ended: anything but a clean exit may have lost
// commits that the log already claims, so the run must not report success.
void FastImportRepository::recordImportFailure()
{
    if (importProcess.error() == QProcess::FailedToStart) {
        qCritical() << "git-fast-import for repository" << repositoryName
                    << "could not be started:" << qPrintable(importProcess.errorString());
        importFailureSeen = true;
    } else if (importProcess.exitStatus() == QProcess::CrashExit) {
        qCritical() << "git-fast-import for repository" << repositoryName
                    << "was ended by signal" << importProcess.exitCode()
                    << "; commits may have been lost";
        importFailureSeen = true;
    } else if (importProcess.exitCode() != 0) {
        qCritical() << "git-fast-import for repository" << repositoryName
                    << "exited with status" << importProcess.exitCode()
                    << "; commits may have been lost";
        importFailureSeen = true;
    }
}

bool FastImportRepository::importFailed()
{
    return importFailureSeen;
}

void FastImportRepository::clearImportFailed()
{
    importFailureSeen = false;
}

void FastImportRepository::drainImportProcess(bool nameRepository)
{
    while (importProcess.bytesToWrite() > 0) {
        if (importProcess.waitForBytesWritten(-1))
            continue;
        if (nameRepository)
            qFatal("Failed to write to process: %s for repository %s",
                   qPrintable(importProcess.errorString()), qPrintable(repositoryName));
        qFatal("Failed to write to process: %s", qPrintable(importProcess.errorString()));
    }
}

QByteArray FastImportRepository::filterMessage(const QByteArray &message)
{
    if (!optionGiven("msg-filter"))
        return message;

    if (filterProcess.state() != QProcess::NotRunning)
        qFatal("filter process already running?");

    const QString program =
        CommandLineParser::instance()->optionValue(QStringLiteral("msg-filter"));
    filterProcess.start(program, QStringList(), QIODevice::ReadWrite);
    if (!filterProcess.waitForStarted(-1))
        qFatal("Failed to Start Filter %d %s", 880, qPrintable(filterProcess.errorString()));

    filterProcess.write(message);
    filterProcess.closeWriteChannel();
    filterProcess.waitForFinished(30000);

    // A filter that failed has most likely not written the message it meant
    // to; committing its output would silently lose the log message.
    if (filterProcess.state() == QProcess::NotRunning) {
        if (filterProcess.exitStatus() == QProcess::CrashExit)
            qFatal("Filter %s was ended by signal %d", qPrintable(program),
                   filterProcess.exitCode());
        if (filterProcess.exitCode() != 0)
            qFatal("Filter %s exited with status %d", qPrintable(program),
                   filterProcess.exitCode());
    }
    return filterProcess.readAllStandardOutput();
}

bool FastImportRepository::hasBranch(const QString &branch) const
{
    return branchStates.contains(branch);
}

QByteArray FastImportRepository::noteForBranch(const QString &branch) const
{
    return branchNotes.value(branch);
}

void FastImportRepository::setNoteForBranch(const QString &branch, const QByteArray &note)
{
    if (hasBranch(branch))
        branchNotes[branch] = note;
}

bool FastImportRepository::usesPrefix() const
{
    return false;
}

QString FastImportRepository::name() const
{
    return repositoryName;
}

Repository *FastImportRepository::targetRepository()
{
    return this;
}
