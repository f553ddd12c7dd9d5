#include "repository/FastImportProcess.h"

#include "repository/ActiveProcessList.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

namespace {

// How much of the log a failure report shows.
const int logTailLines = 5;
const qint64 logTailBytes = 4096;

// A process that refused a write has closed its input and is ending; this is
// how long it gets to end before the failure is reported without its status.
const int writeFailureGraceMs = 10000;

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

FastImportProcess::FastImportProcess(const QString &repositoryName,
                                     const RepositoryOptions &options)
    : repositoryName(repositoryName), options(options), process(repositoryName, options.debugRules)
{
}

FastImportProcess::~FastImportProcess()
{
    ActiveProcessList::remove(this);
}

void FastImportProcess::setWorkingDirectory(const QString &directory)
{
    process.setWorkingDirectory(directory);
}

Status FastImportProcess::ensureRunning()
{
    ActiveProcessList::touch(this);

    // An end is noticed where the stream is passed on (passOn, drain); a
    // look at the process for every line written would cost more than the
    // line.
    if (process.state() != QProcess::NotRunning)
        return endReported ? status() : Status();

    // A process that ended while it was still being written to has lost what
    // it was sent; a new one would build on a history with a gap in it.
    if (started)
        return recordEnd(true);
    started = true;
    return start();
}

Status FastImportProcess::start()
{
    const QString marksFile = RepositoryFileNames::marksFileName(repositoryName);
    const QStringList marksArguments = {QStringLiteral("--import-marks=") + marksFile,
                                        QStringLiteral("--export-marks=") + marksFile,
                                        QStringLiteral("--force")};

    logSizeAtStart = QFileInfo(logFileName()).size();
    process.setStandardOutputFile(logFileName(), QIODevice::Append);
    process.setProcessChannelMode(QProcess::MergedChannels);

    if (!options.writesToFile())
        process.start(QStringLiteral("git"),
                      QStringList(QStringLiteral("fast-import")) + marksArguments,
                      QIODevice::ReadWrite);
    else
        process.start(QStringLiteral("cat"), QStringList(), QIODevice::ReadWrite);
    if (!process.waitForStarted(-1))
        return recordEnd(true);

    if (startAction)
        startAction();
    return Status();
}

Status FastImportProcess::checkStillRunning()
{
    // Without an event loop the process object learns of the child's end only
    // while it waits; a zero wait lets it notice a child that died meanwhile.
    if (process.state() == QProcess::Running)
        process.waitForFinished(0);
    if (process.state() != QProcess::NotRunning)
        return Status();
    return recordEnd(true);
}

void FastImportProcess::stop()
{
    if (process.state() != QProcess::NotRunning) {
        const int seconds = options.fastImportTimeoutSeconds;
        int limit = -1;
        if (seconds != 0) {
            qDebug() << "Waiting" << seconds << "seconds for fast-import to finish.";
            if (seconds > 0)
                limit = seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
        } else {
            qDebug() << "Waiting forever for fast-import to finish.";
        }

        process.writeMirrored("checkpoint\n");
        while (process.bytesToWrite() > 0 && process.waitForBytesWritten(-1)) {
        }
        process.closeWriteChannel();

        waitToFinish(limit);
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(200))
                qWarning() << "WARN: git-fast-import for repository" << repositoryName
                           << "did not die";
            (void)record(Failure() << "git-fast-import for repository" << repositoryName
                                   << "did not finish in time and was terminated; commits may have been lost"
                                   << "(--fast-import-timeout 0 waits as long as it takes)");
        } else {
            (void)recordEnd(false);
        }
    } else if (started) {
        (void)recordEnd(true);
    }
    started = false;
    endReported = false;
    ActiveProcessList::remove(this);
}

// Waits period after period while the process keeps using CPU time: one that
// is still writing its pack would lose every commit since its last checkpoint
// if it were stopped. Only a whole period without progress ends the wait.
void FastImportProcess::waitToFinish(int periodMs)
{
    qint64 cpuTicks = cpuTicksOf(process.processId());
    while (!process.waitForFinished(periodMs)) {
        if (process.state() == QProcess::NotRunning)
            return;
        const qint64 nowTicks = cpuTicksOf(process.processId());
        if (nowTicks < 0 || nowTicks <= cpuTicks)
            return;
        cpuTicks = nowTicks;
        qDebug() << "git-fast-import for repository" << repositoryName
                 << "is still working; waiting another" << periodMs / 1000 << "seconds";
    }
}

// Reports, once per process, an end that may have lost commits the log
// already claims, with the "fatal:" and "error:" lines the process wrote
// (its last lines when there are none), so that the run fails and says why.
Status FastImportProcess::recordEnd(bool endedOnItsOwn)
{
    if (endReported)
        return status();
    Failure end;
    if (process.error() == QProcess::FailedToStart) {
        end << "git-fast-import for repository" << repositoryName
            << "could not be started:" << qPrintable(process.errorString());
    } else if (process.exitStatus() == QProcess::CrashExit) {
        end << "git-fast-import for repository" << repositoryName << "was ended by signal"
            << process.exitCode() << "; commits may have been lost";
    } else if (process.exitCode() != 0) {
        end << "git-fast-import for repository" << repositoryName << "exited with status"
            << process.exitCode() << "; commits may have been lost";
    } else if (endedOnItsOwn) {
        end << "git-fast-import for repository" << repositoryName
            << "exited with status 0 before the end of its input"
            << "; commits may have been lost";
    } else {
        return Status();
    }
    endReported = true;
    const Status recorded = record(std::move(end));

    // The statistics fast-import writes at its end would hide the cause.
    const QByteArray errors = logErrorLines();
    if (!errors.isEmpty()) {
        qCritical() << "Errors that git-fast-import wrote to" << logFileName()
                    << (":\n" + errors).constData();
        return recorded;
    }
    const QByteArray tail = logTail();
    if (!tail.isEmpty())
        qCritical() << "Last lines that git-fast-import wrote to" << logFileName()
                    << (":\n" + tail).constData();
    return recorded;
}

// Reports the failure now, where it happened among the other messages, and
// keeps the first one for the end of the run.
Status FastImportProcess::record(Failure end)
{
    qCritical().noquote() << end.message();
    if (!failure)
        failure = end;
    return end;
}

Status FastImportProcess::status() const
{
    return failure ? Status(*failure) : Status();
}

// The last lines of the log that the current process wrote; earlier runs'
// lines are left out.
QByteArray FastImportProcess::logTail() const
{
    QFile log(logFileName());
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

// The first lines of the current process's part of the log that say what
// went wrong ("fatal:", "error:"); empty when there are none.
QByteArray FastImportProcess::logErrorLines() const
{
    QFile log(logFileName());
    if (!log.open(QIODevice::ReadOnly) || !log.seek(logSizeAtStart))
        return QByteArray();
    QList<QByteArray> errors;
    while (!log.atEnd() && errors.size() < logTailLines) {
        const QByteArray line = log.readLine();
        if (line.startsWith("fatal:") || line.startsWith("error:"))
            errors.append(line.endsWith('\n') ? line.chopped(1) : line);
    }
    return errors.join('\n');
}

QString FastImportProcess::logFileName() const
{
    return RepositoryFileNames::logFileNameFor(repositoryName, options.createDump);
}

Status FastImportProcess::drain(bool nameRepository)
{
    while (process.bytesToWrite() > 0) {
        if (process.waitForBytesWritten(-1))
            continue;
        const QString text =
                nameRepository ? QString::asprintf("Failed to write to process: %s for repository %s",
                                                   qPrintable(process.errorString()),
                                                   qPrintable(repositoryName))
                               : QString::asprintf("Failed to write to process: %s",
                                                   qPrintable(process.errorString()));
        const Status failed = record(Failure() << qPrintable(text));
        // The process no longer reads its input, so it is ending: let it end
        // and say how, with what it wrote last.
        process.closeWriteChannel();
        if (process.waitForFinished(writeFailureGraceMs))
            (void)recordEnd(true);
        return failed;
    }
    return Status();
}

Status FastImportProcess::passOn()
{
    if (process.hasChunkToSend()) {
        if (Status drained = drain(true); !drained)
            return drained;
    }
    return checkStillRunning();
}
