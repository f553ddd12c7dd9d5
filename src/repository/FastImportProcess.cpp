#include "repository/FastImportProcess.h"

#include "common/FailureReporter.h"
#include "repository/ActiveProcessList.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <algorithm>
#include <climits>

namespace {

// How much of the log a failure report shows.
const int logTailLines = 5;
const qint64 logTailBytes = 4096;

// A process that refused a write has closed its input and is ending; this is
// how long it gets to end before the failure is reported without its status.
const int writeFailureGraceMs = 10000;

// glibc gives the top of its heap back to the kernel as soon as enough of it
// is free, and fast-import allocates and frees large buffers for every blob
// it deltifies: with glibc's own thresholds it spends about half its time in
// the kernel growing and shrinking its heap. Keeping up to 32 MiB of freed
// memory takes that time away. Settings the user gives come after these and
// win; other C libraries ignore the variable.
QProcessEnvironment fastImportEnvironment()
{
    const QString name = QStringLiteral("GLIBC_TUNABLES");
    const QString heapKept =
            QStringLiteral("glibc.malloc.trim_threshold=33554432:glibc.malloc.top_pad=16777216");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString own = environment.value(name);
    environment.insert(name, own.isEmpty() ? heapKept : heapKept + QLatin1Char(':') + own);
    return environment;
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

FastImportProcess::FastImportProcess(const QString &repositoryName,
                                     const RepositoryOptions &options)
    : m_repositoryName(repositoryName), m_options(options), m_process(repositoryName, options.debugRules)
{
}

FastImportProcess::~FastImportProcess()
{
    ActiveProcessList::remove(this);
}

void FastImportProcess::setWorkingDirectory(const QString &directory)
{
    m_process.setWorkingDirectory(directory);
}

Status FastImportProcess::ensureRunning()
{
    ActiveProcessList::touch(this);

    // An end is noticed where the stream is passed on (passOn, drain); a
    // look at the process for every line written would cost more than the
    // line.
    if (m_process.state() != QProcess::NotRunning)
        return m_endReported ? status() : Status();

    // A process that ended while it was still being written to has lost what
    // it was sent; a new one would build on a history with a gap in it.
    if (m_started)
        return recordEnd(true);
    m_started = true;
    return start();
}

Status FastImportProcess::start()
{
    const QString marksFile = RepositoryFileNames::marksFileName(m_repositoryName);
    const QStringList marksArguments = {QStringLiteral("--import-marks=") + marksFile,
                                        QStringLiteral("--export-marks=") + marksFile,
                                        QStringLiteral("--force")};

    m_logSizeAtStart = QFileInfo(logFileName()).size();
    m_process.setStandardOutputFile(logFileName(), QIODevice::Append);
    m_process.setProcessChannelMode(QProcess::MergedChannels);

    if (!m_options.writesToFile()) {
        m_process.setProcessEnvironment(fastImportEnvironment());
        m_process.start(QStringLiteral("git"),
                        QStringList(QStringLiteral("fast-import")) + marksArguments,
                        QIODevice::ReadWrite);
    } else {
        m_process.start(QStringLiteral("cat"), QStringList(), QIODevice::ReadWrite);
    }
    if (!m_process.waitForStarted(-1))
        return recordEnd(true);

    if (m_startAction)
        m_startAction();
    return Status();
}

Status FastImportProcess::checkStillRunning()
{
    // Without an event loop the process object learns of the child's end only
    // while it waits; a zero wait lets it notice a child that died meanwhile.
    if (m_process.state() == QProcess::Running)
        m_process.waitForFinished(0);
    if (m_process.state() != QProcess::NotRunning)
        return Status();
    return recordEnd(true);
}

void FastImportProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        const int seconds = m_options.fastImportTimeoutSeconds;
        int limit = -1;
        if (seconds != 0) {
            qDebug() << "Waiting" << seconds << "seconds for fast-import to finish.";
            if (seconds > 0)
                limit = seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
        } else {
            qDebug() << "Waiting forever for fast-import to finish.";
        }

        m_process.writeMirrored("checkpoint\n");
        while (m_process.bytesToWrite() > 0 && m_process.waitForBytesWritten(-1)) {
        }
        m_process.closeWriteChannel();

        waitToFinish(limit);
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(200))
                qWarning() << "WARN: git-fast-import for repository" << m_repositoryName
                           << "did not die";
            (void)record(Failure() << "git-fast-import for repository" << m_repositoryName
                                   << "did not finish in time and was terminated; commits may have been lost"
                                   << "(--fast-import-timeout 0 waits as long as it takes)");
        } else {
            (void)recordEnd(false);
        }
    } else if (m_started) {
        (void)recordEnd(true);
    }
    m_started = false;
    m_endReported = false;
    ActiveProcessList::remove(this);
}

// Waits period after period while the process keeps using CPU time: one that
// is still writing its pack would lose every commit since its last checkpoint
// if it were stopped. Only a whole period without progress ends the wait.
void FastImportProcess::waitToFinish(int periodMs)
{
    qint64 cpuTicks = cpuTicksOf(m_process.processId());
    while (!m_process.waitForFinished(periodMs)) {
        if (m_process.state() == QProcess::NotRunning)
            return;
        const qint64 nowTicks = cpuTicksOf(m_process.processId());
        if (nowTicks < 0 || nowTicks <= cpuTicks)
            return;
        cpuTicks = nowTicks;
        qDebug() << "git-fast-import for repository" << m_repositoryName
                 << "is still working; waiting another" << periodMs / 1000 << "seconds";
    }
}

// Reports, once per process, an end that may have lost commits the log
// already claims, with the "fatal:" and "error:" lines the process wrote
// (its last lines when there are none), so that the run fails and says why.
Status FastImportProcess::recordEnd(bool endedOnItsOwn)
{
    if (m_endReported)
        return status();
    Failure end;
    if (m_process.error() == QProcess::FailedToStart) {
        end << "git-fast-import for repository" << m_repositoryName
            << "could not be started:" << qPrintable(m_process.errorString());
    } else if (m_process.exitStatus() == QProcess::CrashExit) {
        end << "git-fast-import for repository" << m_repositoryName << "was ended by signal"
            << m_process.exitCode() << "; commits may have been lost";
    } else if (m_process.exitCode() != 0) {
        end << "git-fast-import for repository" << m_repositoryName << "exited with status"
            << m_process.exitCode() << "; commits may have been lost";
    } else if (endedOnItsOwn) {
        end << "git-fast-import for repository" << m_repositoryName
            << "exited with status 0 before the end of its input"
            << "; commits may have been lost";
    } else {
        return Status();
    }
    m_endReported = true;
    const Status recorded = record(std::move(end));

    // The statistics fast-import writes at its end would hide the cause.
    const QByteArray errors = logErrorLines();
    if (!errors.isEmpty()) {
        reportNow(Failure() << "Errors that git-fast-import wrote to" << logFileName()
                            << (":\n" + errors).constData());
        return recorded;
    }
    const QByteArray tail = logTail();
    if (!tail.isEmpty())
        reportNow(Failure() << "Last lines that git-fast-import wrote to" << logFileName()
                            << (":\n" + tail).constData());
    return recorded;
}

// Reports the failure now, where it happened among the other messages, and
// keeps the first one for the end of the run.
Status FastImportProcess::record(Failure end)
{
    end = reportNow(std::move(end));
    if (!m_failure)
        m_failure = end;
    return end;
}

Failure FastImportProcess::reportNow(Failure failure) const
{
    if (!m_options.failureReporter)
        return failure;
    return m_options.failureReporter->reportNow(std::move(failure));
}

Status FastImportProcess::status() const
{
    return m_failure ? Status(*m_failure) : Status();
}

// The last lines of the log that the current process wrote; earlier runs'
// lines are left out.
QByteArray FastImportProcess::logTail() const
{
    QFile log(logFileName());
    if (!log.open(QIODevice::ReadOnly))
        return QByteArray();
    const qint64 start = std::max(m_logSizeAtStart, log.size() - logTailBytes);
    if (start >= log.size() || !log.seek(start))
        return QByteArray();
    QList<QByteArray> lines = log.readAll().split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    if (start > m_logSizeAtStart && !lines.isEmpty())
        lines.removeFirst(); // begins inside a line
    return lines.mid(std::max<qsizetype>(0, lines.size() - logTailLines)).join('\n');
}

// The first lines of the current process's part of the log that say what
// went wrong ("fatal:", "error:"); empty when there are none.
QByteArray FastImportProcess::logErrorLines() const
{
    QFile log(logFileName());
    if (!log.open(QIODevice::ReadOnly) || !log.seek(m_logSizeAtStart))
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
    return RepositoryFileNames::logFileNameFor(m_repositoryName, m_options.createDump);
}

Status FastImportProcess::drain(bool nameRepository)
{
    while (m_process.bytesToWrite() > 0) {
        if (m_process.waitForBytesWritten(-1))
            continue;
        const QString text =
                nameRepository ? QString::asprintf("Failed to write to process: %s for repository %s",
                                                   qPrintable(m_process.errorString()),
                                                   qPrintable(m_repositoryName))
                               : QString::asprintf("Failed to write to process: %s",
                                                   qPrintable(m_process.errorString()));
        const Status failed = record(Failure() << qPrintable(text));
        // The process no longer reads its input, so it is ending: let it end
        // and say how, with what it wrote last.
        m_process.closeWriteChannel();
        if (m_process.waitForFinished(writeFailureGraceMs))
            (void)recordEnd(true);
        return failed;
    }
    return Status();
}

Status FastImportProcess::passOn()
{
    if (m_process.hasChunkToSend()) {
        if (Status drained = drain(true); !drained)
            return drained;
    }
    return checkStillRunning();
}
