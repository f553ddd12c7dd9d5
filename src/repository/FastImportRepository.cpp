#include "repository/FastImportRepository.h"

#include "repository/ActiveProcessList.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

namespace {

bool importFailureSeen = false;

// How much of the log a failure report shows.
const int logTailLines = 5;
const qint64 logTailBytes = 4096;

// A process that refused a write has closed its input and is ending; this is
// how long it gets to end before the failure is reported without its status.
const int writeFailureGraceMs = 10000;

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

// CPU time (user and system, in clock ticks) that the process has used so far,
// or -1 when the system does not tell.
qint64 cpuTicksOf(qint64 pid)
{
    if (pid <= 0)
        return -1;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The command name in parentheses may hold blanks; the fields that follow
    // it start with the state (field 3), so utime and stime (fields 14 and 15)
    // are the 12th and 13th.
    const qsizetype nameEnd = text.lastIndexOf(')');
    if (nameEnd < 0)
        return -1;
    const QList<QByteArray> fields = text.mid(nameEnd + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    bool userIsNumber = false;
    bool systemIsNumber = false;
    const qint64 ticks = fields.at(11).toLongLong(&userIsNumber)
                         + fields.at(12).toLongLong(&systemIsNumber);
    return userIsNumber && systemIsNumber ? ticks : -1;
}

} // namespace

FastImportRepository::FastImportRepository(const RepositoryRule &rule,
                                           const RepositoryOptions &options)
    : options(options), repositoryName(rule.name), importProcess(rule.name, options.debugRules)
{
    for (const DeclaredBranch &branch : rule.branches)
        branchStates[branch.name].createdRevision = 1;

    defaultBranch = QString::fromUtf8(
                        runGit({QStringLiteral("config"), QStringLiteral("init.defaultBranch")}))
                        .trimmed();
    if (defaultBranch.isEmpty())
        defaultBranch = QStringLiteral("master");
    branchStates[defaultBranch].createdRevision = 1;

    if (!options.writesToFile()) {
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

bool FastImportRepository::ensureImportRunning()
{
    ActiveProcessList::touch(this);

    if (importProcess.state() != QProcess::NotRunning)
        return importStillRunning();

    // A process that ended while it was still being written to has lost what
    // it was sent; a new one would build on a history with a gap in it.
    if (importStarted) {
        recordImportFailure(true);
        return false;
    }
    importStarted = true;

    const QString marksFile = RepositoryFileNames::marksFileName(repositoryName);
    const QStringList marksArguments = {QStringLiteral("--import-marks=") + marksFile,
                                        QStringLiteral("--export-marks=") + marksFile,
                                        QStringLiteral("--force")};

    const QString logFile = RepositoryFileNames::logFileNameFor(repositoryName, options.createDump);
    logSizeAtStart = QFileInfo(logFile).size();
    importProcess.setStandardOutputFile(logFile, QIODevice::Append);
    importProcess.setProcessChannelMode(QProcess::MergedChannels);

    if (!options.writesToFile())
        importProcess.start(QStringLiteral("git"),
                            QStringList(QStringLiteral("fast-import")) + marksArguments,
                            QIODevice::ReadWrite);
    else
        importProcess.start(QStringLiteral("cat"), QStringList(), QIODevice::ReadWrite);
    if (!importProcess.waitForStarted(-1)) {
        recordImportFailure(true);
        return false;
    }

    announceBranches();
    return true;
}

bool FastImportRepository::importStillRunning()
{
    // Without an event loop the process object learns of the child's end only
    // while it waits; a zero wait lets it notice a child that died meanwhile.
    if (importProcess.state() == QProcess::Running)
        importProcess.waitForFinished(0);
    if (importProcess.state() != QProcess::NotRunning)
        return true;
    recordImportFailure(true);
    return false;
}

void FastImportRepository::stopImportProcess()
{
    if (importProcess.state() != QProcess::NotRunning) {
        const int seconds = options.fastImportTimeoutSeconds;
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

        waitForImportToFinish(limit);
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
            recordImportFailure(false);
        }
    } else if (importStarted) {
        recordImportFailure(true);
    }
    importStarted = false;
    importEndReported = false;
    ActiveProcessList::remove(this);
}

// Waits period after period while the process keeps using CPU time: one that
// is still writing its pack would lose every commit since its last checkpoint
// if it were stopped. Only a whole period without progress ends the wait.
void FastImportRepository::waitForImportToFinish(int periodMs)
{
    qint64 cpuTicks = cpuTicksOf(importProcess.processId());
    while (!importProcess.waitForFinished(periodMs)) {
        if (importProcess.state() == QProcess::NotRunning)
            return;
        const qint64 nowTicks = cpuTicksOf(importProcess.processId());
        if (nowTicks < 0 || nowTicks <= cpuTicks)
            return;
        cpuTicks = nowTicks;
        qDebug() << "git-fast-import for repository" << repositoryName
                 << "is still working; waiting another" << periodMs / 1000 << "seconds";
    }
}

// Reports, once per process, an end that may have lost commits the log
// already claims, with the last lines the process wrote (its own "fatal:"
// text), so that the run fails and says why.
void FastImportRepository::recordImportFailure(bool endedOnItsOwn)
{
    if (importEndReported)
        return;
    if (importProcess.error() == QProcess::FailedToStart) {
        qCritical() << "git-fast-import for repository" << repositoryName
                    << "could not be started:" << qPrintable(importProcess.errorString());
    } else if (importProcess.exitStatus() == QProcess::CrashExit) {
        qCritical() << "git-fast-import for repository" << repositoryName
                    << "was ended by signal" << importProcess.exitCode()
                    << "; commits may have been lost";
    } else if (importProcess.exitCode() != 0) {
        qCritical() << "git-fast-import for repository" << repositoryName
                    << "exited with status" << importProcess.exitCode()
                    << "; commits may have been lost";
    } else if (endedOnItsOwn) {
        qCritical() << "git-fast-import for repository" << repositoryName
                    << "exited with status 0 before the end of its input"
                    << "; commits may have been lost";
    } else {
        return;
    }
    importEndReported = true;
    importFailureSeen = true;

    const QByteArray tail = importLogTail();
    if (!tail.isEmpty())
        qCritical() << "Last lines that git-fast-import wrote to"
                    << RepositoryFileNames::logFileNameFor(repositoryName, options.createDump)
                    << (":\n" + tail).constData();
}

// The last lines of the log that the current process wrote; earlier runs'
// lines are left out.
QByteArray FastImportRepository::importLogTail() const
{
    QFile log(RepositoryFileNames::logFileNameFor(repositoryName, options.createDump));
    if (!log.open(QIODevice::ReadOnly))
        return QByteArray();
    const qint64 start = std::max(logSizeAtStart, log.size() - logTailBytes);
    if (start >= log.size() || !log.seek(start))
        return QByteArray();
    QList<QByteArray> lines = log.readAll().split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    if (start > logSizeAtStart && !lines.isEmpty())
        lines.removeFirst(); // begins inside a line
    return lines.mid(std::max<qsizetype>(0, lines.size() - logTailLines)).join('\n');
}

bool FastImportRepository::importFailed()
{
    return importFailureSeen;
}

void FastImportRepository::clearImportFailed()
{
    importFailureSeen = false;
}

bool FastImportRepository::drainImportProcess(bool nameRepository)
{
    while (importProcess.bytesToWrite() > 0) {
        if (importProcess.waitForBytesWritten(-1))
            continue;
        if (nameRepository)
            qCritical("Failed to write to process: %s for repository %s",
                      qPrintable(importProcess.errorString()), qPrintable(repositoryName));
        else
            qCritical("Failed to write to process: %s", qPrintable(importProcess.errorString()));
        importFailureSeen = true;
        // The process no longer reads its input, so it is ending: let it end
        // and say how, with what it wrote last.
        importProcess.closeWriteChannel();
        if (importProcess.waitForFinished(writeFailureGraceMs))
            recordImportFailure(true);
        return false;
    }
    return true;
}

QByteArray FastImportRepository::filterMessage(const QByteArray &message, int timeoutMs)
{
    if (!options.messageFilter)
        return message;

    if (filterProcess.state() != QProcess::NotRunning)
        qFatal("filter process already running?");

    const QString program = *options.messageFilter;
    filterProcess.start(program, QStringList(), QIODevice::ReadWrite);
    if (!filterProcess.waitForStarted(-1))
        qFatal("Failed to Start Filter %d %s", 880, qPrintable(filterProcess.errorString()));

    filterProcess.write(message);
    filterProcess.closeWriteChannel();

    // What a filter printed before it was stopped is only part of a message.
    if (!filterProcess.waitForFinished(timeoutMs)) {
        filterProcess.kill();
        filterProcess.waitForFinished(-1);
        qFatal("Filter %s did not finish within %d seconds", qPrintable(program),
               timeoutMs / 1000);
    }

    // A filter that failed has most likely not written the message it meant
    // to; committing its output would silently lose the log message.
    if (filterProcess.exitStatus() == QProcess::CrashExit)
        qFatal("Filter %s was ended by signal %d", qPrintable(program), filterProcess.exitCode());
    if (filterProcess.exitCode() != 0)
        qFatal("Filter %s exited with status %d", qPrintable(program), filterProcess.exitCode());
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
