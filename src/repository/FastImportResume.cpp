// Resuming: rebuilding the branch records from the log and marks files that
// earlier runs left behind.
#include "repository/FastImportRepository.h"

#include "repository/GitObjectReader.h"
#include "repository/RepositoryFileNames.h"
#include "repository/RepositoryLocks.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// ":" mark " " object name, as fast-import writes it; fast-import refuses to
// import a file with any other line.
bool isMarksLine(const QByteArray &line, quint64 *mark)
{
    const QByteArray text = line.endsWith('\n') ? line.left(line.size() - 1) : line;
    const qsizetype blank = text.indexOf(' ');
    if (!text.startsWith(':') || blank < 2)
        return false;
    bool isNumber = false;
    *mark = text.mid(1, blank - 1).toULongLong(&isNumber);
    const QByteArray object = text.mid(blank + 1);
    if (!isNumber || (object.size() != 40 && object.size() != 64))
        return false;
    for (char c : object) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// In a dump, the bytes of a data block (a message, a file) are no commands,
// whatever lines they hold: reading goes on after them.
void skipDataBlock(QFile &file, const QByteArray &line)
{
    if (!line.startsWith("data ") || !line.endsWith('\n'))
        return;
    bool ok = false;
    const qint64 length = line.mid(5, line.size() - 6).toLongLong(&ok);
    if (ok && length > 0)
        file.seek(qMin(file.pos() + length, file.size()));
}

// "progress SVN r" + revision + " done": every command of the revision is
// before it.
int finishedRevision(const QByteArray &line)
{
    static const QRegularExpression doneLine(
        QRegularExpression::anchoredPattern(QStringLiteral("progress SVN r(\\d+) done")));
    const QRegularExpressionMatch match = doneLine.match(QString::fromUtf8(line.trimmed()));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

} // namespace

// The highest commit mark up to which the marks file lists every mark, one
// line each and in order; 0 when the file is missing or faulty. Returns
// false when the file is faulty anywhere, so that fast-import could not read it.
bool FastImportRepository::readLastValidMark(quint64 &lastValidMark) const
{
    lastValidMark = 0;
    const QString marksFileName = RepositoryFileNames::marksFilePath(repositoryName);
    QFile marksFile(marksFileName);
    if (!marksFile.open(QIODevice::ReadOnly))
        return true;

    qDebug() << "marksfile " << marksFileName;
    int lineNumber = 0;
    bool commitMarksEnded = false;
    while (!marksFile.atEnd()) {
        const QByteArray line = marksFile.readLine();
        ++lineNumber;

        quint64 mark = 0;
        const bool wellFormed = isMarksLine(line, &mark);
        if (!wellFormed || mark == 0) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file corrupt?"
                        << "mark " << 0;
            lastValidMark = 0;
            return false;
        }
        if (commitMarksEnded)
            continue; // the blob and notes marks are only checked for form
        if (mark == lastValidMark) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file has duplicates";
            lastValidMark = 0;
            return false;
        }
        if (mark < lastValidMark) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file not sorted";
            lastValidMark = 0;
            return false;
        }
        if (mark > lastValidMark + 1)
            commitMarksEnded = true; // the first gap ends the commit marks
        else
            lastValidMark = mark;
    }
    return true;
}

// Whether fast-import can import the marks file (a missing one needs no import).
bool FastImportRepository::marksFileIsWellFormed() const
{
    QFile marksFile(RepositoryFileNames::marksFilePath(repositoryName));
    if (!marksFile.open(QIODevice::ReadOnly))
        return true;
    while (!marksFile.atEnd()) {
        quint64 mark = 0;
        if (!isMarksLine(marksFile.readLine(), &mark) || mark == 0)
            return false;
    }
    return true;
}

// A faulty marks file would stop every fast-import that is given it. Nothing
// in it is used any more (the log was rewound to before its first commit), so
// it is kept aside for inspection and the conversion starts from no marks.
void FastImportRepository::setAsideDamagedMarksFile() const
{
    const QString marksFileName = RepositoryFileNames::marksFilePath(repositoryName);
    const QString damagedName = marksFileName + QStringLiteral(".damaged");
    QFile::remove(damagedName);
    if (!QFile::rename(marksFileName, damagedName))
        return;
    QFile marks(marksFileName);
    marks.open(QIODevice::WriteOnly);
    qWarning() << "WARN:" << repositoryName << "the damaged marks file was kept as" << damagedName
               << "and its commits will be converted again";
}

// A commit as the log records it.
struct LoggedCommit
{
    int revision = 0;
    quint64 mark = 0;
};

// Where a pass over the log stopped, and the commits it accepted.
struct FastImportRepository::LogScan
{
    qint64 cutPosition = -1; // start of the line the log must be cut before; -1: none
    bool unknownMarkFound = false;
    int nextRevision = 1;
    // The last revision, when the log says its commands are complete for
    // others but not for it.
    int unfinishedRevision = 0;
    QList<LoggedCommit> commits;
};

Result<int> FastImportRepository::prepareResume(int &cutoff)
{
    // With a lock left in the repository, this run's fast-import could not
    // update the refs, and the commits of the whole run would be lost. The
    // wait names each lock that stays, one message per lock.
    if (!options.writesToFile() && !RepositoryLocks::waitUntilUnlocked(repositoryName)) {
        resumeRevision = -1;
        return Failure::alreadyReported();
    }
    Result<int> resumed = resumeFromLog(cutoff);
    resumeRevision = resumed ? resumed.value() : -1;
    return resumed;
}

Result<int> FastImportRepository::resumeFromLog(int &cutoff)
{
    QFile logFile(RepositoryFileNames::logFileNameFor(repositoryName, options.createDump));
    if (!logFile.exists() || !logFile.open(QIODevice::ReadWrite)) {
        // Without a log nothing refers to the marks, but fast-import still
        // has to read the file.
        if (!marksFileIsWellFormed())
            setAsideDamagedMarksFile();
        return 1;
    }

    const bool dump = options.createDump;
    quint64 lastValidMark = 0;
    bool dumpCut = false;
    if (dump) {
        const qint64 end = dumpResumePoint(logFile, cutoff);
        dumpCut = end < logFile.size();
        if (dumpCut) {
            if (Status cut = cutLog(logFile, end, cutoff); !cut)
                return cut.failure();
        }
        lastValidMark = ~quint64(0);
        logFile.seek(0);
    } else if (!readLastValidMark(lastValidMark)) {
        setAsideDamagedMarksFile();
    }

    const BranchTable preparedBranches = branches;
    const quint64 preparedHighestMark = highestCommitMark;
    LogScan scan = scanLog(logFile, lastValidMark, cutoff);
    const int withoutNote = scan.unknownMarkFound || dump ? 0 : firstRevisionWithoutNote(scan);
    if (scan.unfinishedRevision > 0 && (withoutNote == 0 || scan.unfinishedRevision < withoutNote)) {
        // A run died between two commands of the revision. Converting it
        // again gives the same commits, and those that are missing.
        qWarning() << "WARN:" << repositoryName << "revision" << scan.unfinishedRevision
                   << "was not finished: converting it again";
        cutoff = scan.unfinishedRevision;
        branches = preparedBranches;
        highestCommitMark = preparedHighestMark;
        logFile.seek(0);
        scan = scanLog(logFile, lastValidMark, cutoff);
    } else if (withoutNote > 0) {
        // The progress line of a commit comes before the commit's note, so a
        // run that died in between left a commit without its note; a
        // conversion that had notes off has none at all. Doing the revisions
        // again from there rebuilds the very same commits, with their notes.
        qWarning() << "WARN:" << repositoryName << "the note of the commit of revision"
                   << withoutNote << "is missing: rewinding;"
                   << scan.nextRevision - withoutNote << "revisions will be converted again";
        cutoff = withoutNote;
        branches = preparedBranches;
        highestCommitMark = preparedHighestMark;
        logFile.seek(0);
        scan = scanLog(logFile, lastValidMark, cutoff);
    }
    if (scan.cutPosition >= 0)
    {
        if (Status cut = cutLog(logFile, scan.cutPosition, cutoff); !cut)
            return cut.failure();
        return cutoff;
    }
    if (scan.nextRevision == cutoff && !dumpCut)
        QFile::remove(logFile.fileName() + QStringLiteral(".old"));
    return scan.nextRevision;
}

// Where a dump can be cut for the run that goes on with it, lowering the
// cut-off to the first revision that loses a progress line. A dump is only
// a copy of the stream: every command in it reaches git on import, and a
// commit comes before the progress line that names it, so a cut before a
// revision's first progress line would leave its first commit twice.
// Dumps that mark finished revisions are cut after the last one before the
// cut-off, which also drops the annotated tags written at the end of the
// run (they are written again at the end of the next one). Older dumps are
// cut after their last "checkpoint", which lies between revisions.
qint64 FastImportRepository::dumpResumePoint(QFile &logFile, int &cutoff) const
{
    const QRegularExpression progressLine(
        QStringLiteral("^progress SVN r(\\d+) branch "));
    qint64 checkpointEnd = 0;
    qint64 finishedEnd = -1;
    int firstAfterCheckpoint = 0;
    int firstAfterFinished = 0;
    logFile.seek(0);
    while (!logFile.atEnd()) {
        const QByteArray line = logFile.readLine();
        skipDataBlock(logFile, line);
        if (line == "checkpoint\n") {
            checkpointEnd = logFile.pos();
            firstAfterCheckpoint = 0;
            continue;
        }
        const int finished = finishedRevision(line);
        if (finished > 0 && finished < cutoff) {
            if (logFile.peek(1) == "\n")
                logFile.read(1);
            finishedEnd = logFile.pos();
            firstAfterFinished = 0;
            continue;
        }
        const QRegularExpressionMatch match = progressLine.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        const int revision = match.captured(1).toInt();
        if (firstAfterCheckpoint == 0)
            firstAfterCheckpoint = revision;
        if (firstAfterFinished == 0)
            firstAfterFinished = revision;
        if (revision >= cutoff)
            break;
    }
    const qint64 end = finishedEnd >= 0 ? finishedEnd : checkpointEnd;
    const int firstLost = finishedEnd >= 0 ? firstAfterFinished : firstAfterCheckpoint;
    if (firstLost > 0 && firstLost < cutoff && end < logFile.size())
        cutoff = firstLost;
    return end;
}

// Reads the log from its current position, filling the branch records with
// every line it accepts, until the end or the first line that must go.
FastImportRepository::LogScan FastImportRepository::scanLog(QFile &logFile, quint64 lastValidMark,
                                                            int &cutoff)
{
    // The comment starts after the mark: a branch name may hold a "#" (git
    // allows it), but never a blank, so the first " = :" ends the name.
    const QRegularExpression progressLine(QRegularExpression::anchoredPattern(
        QStringLiteral("progress SVN r(\\d+) branch (.*?) = :(\\d+)(?: #(.*))?")));
    const bool dump = options.createDump;
    LogScan scan;
    int lastRevision = 0;
    int lastFinishedRevision = 0;
    while (!logFile.atEnd()) {
        const qint64 lineStart = logFile.pos();
        QByteArray line = logFile.readLine();
        if (dump)
            skipDataBlock(logFile, line);
        if (!line.endsWith('\n')) {
            // Cut short while it was written: its mark may have lost digits,
            // and output appended later would run on from it.
            qWarning() << "WARN:" << repositoryName << "the log ends in an incomplete line:"
                       << "removed";
            logFile.resize(lineStart);
            break;
        }
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (const int finished = finishedRevision(line)) {
            lastFinishedRevision = finished;
            continue;
        }

        const QRegularExpressionMatch match = progressLine.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        const int revision = match.captured(1).toInt();
        const QString branch = match.captured(2);
        const quint64 mark = match.captured(3).toULongLong();
        const QString comment = match.captured(4).trimmed();

        if (revision >= cutoff) {
            scan.cutPosition = lineStart;
            return scan;
        }

        if (revision < lastRevision)
            qWarning() << "WARN:" << repositoryName << "revision numbers are not monotonic: "
                       << "got" << QString::number(lastRevision) << "and then"
                       << QString::number(revision);

        if (mark > lastValidMark) {
            qWarning() << "WARN:" << repositoryName
                       << "unknown commit mark found: rewinding -- did you hit Ctrl-C?";
            cutoff = revision;
            scan.cutPosition = lineStart;
            scan.unknownMarkFound = true;
            return scan;
        }

        if (mark > highestCommitMark)
            highestCommitMark = mark;
        branches.recordLogged(branch, revision, int(mark));
        lastRevision = revision;

        // Branch operations say where a branch came from or "delete"; commits
        // carry no comment or their merge sources.
        if (mark != 0 && (comment.isEmpty() || comment.startsWith(QLatin1String("merge from"))))
            scan.commits.append({revision, mark});
    }
    scan.nextRevision = lastRevision + 1;
    // Logs written before finished revisions were marked have no such line
    // and are read as they always were.
    // A dump is cut after its last finished revision before it is read.
    if (!dump && lastRevision > 0 && lastFinishedRevision != lastRevision && lastFinishedRevision > 0)
        scan.unfinishedRevision = lastRevision;
    return scan;
}

// With notes on, the revision of the first commit the log accepted that has
// no note in git; 0 when every one has its note. One look at the marks and
// the notes serves the whole log.
int FastImportRepository::firstRevisionWithoutNote(const LogScan &scan) const
{
    if (scan.commits.isEmpty()
        || !options.addMetadataNotes)
        return 0;
    const QHash<quint64, QByteArray> objects = marksFileObjects();
    const QHash<QByteArray, QByteArray> notes = notesInGit(objects);
    for (const LoggedCommit &commit : scan.commits) {
        const QByteArray object = objects.value(commit.mark);
        if (object.isEmpty() || !notes.contains(object))
            return commit.revision;
    }
    return 0;
}

// Commit to note blob, for the newest notes commit that the marks name; empty
// when no note was ever stored.
QHash<QByteArray, QByteArray> FastImportRepository::notesInGit(const QHash<quint64, QByteArray> &marks) const
{
    const QByteArray notesCommit = marks.value(notesCommitMark);
    if (notesCommit.isEmpty())
        return QHash<QByteArray, QByteArray>();
    return GitObjectReader(repositoryName).notesOf(notesCommit);
}

// Whether the marks file names a notes commit, which fast-import then knows.
bool FastImportRepository::notesCommitIsKnown() const
{
    return marksFileObjects().contains(notesCommitMark);
}

// Mark to object name, as the marks file lists them; empty when it cannot be read.
QHash<quint64, QByteArray> FastImportRepository::marksFileObjects() const
{
    QHash<quint64, QByteArray> objects;
    QFile marksFile(RepositoryFileNames::marksFilePath(repositoryName));
    if (!marksFile.open(QIODevice::ReadOnly))
        return objects;
    while (!marksFile.atEnd()) {
        const QByteArray line = marksFile.readLine();
        quint64 mark = 0;
        if (isMarksLine(line, &mark))
            objects.insert(mark, line.mid(line.indexOf(' ') + 1).trimmed());
    }
    return objects;
}

// Cuts the log before the line that starts at position, after saving a full
// copy beside it. When the copy cannot be made whole (a full disk), the log
// is left as it is and the failure returned: cut, it would be lost.
Status FastImportRepository::cutLog(QFile &logFile, qint64 position, int cutoff)
{
    const QString savedLog = logFile.fileName() + QStringLiteral(".old");
    const QString newCopy = savedLog + QStringLiteral(".new");
    logFile.flush();
    QFile::remove(newCopy);
    const bool copied = QFile::copy(logFile.fileName(), newCopy)
                        && QFileInfo(newCopy).size() == logFile.size();
    if (!copied || !(QFile::remove(savedLog) || !QFile::exists(savedLog))
        || !QFile::rename(newCopy, savedLog)) {
        QFile::remove(newCopy);
        return Failure() << repositoryName << "cannot save the log" << logFile.fileName()
                         << "as" << savedLog << "before cutting it to revision" << cutoff
                         << ": the log is left as it was";
    }
    qDebug() << repositoryName << "truncating history to revision" << cutoff;
    logFile.resize(position);
    return Status();
}

void FastImportRepository::recoverLogFile()
{
    const QString logFileName = RepositoryFileNames::logFileNameFor(repositoryName, options.createDump);
    const QString savedLog = logFileName + QStringLiteral(".old");
    if (!QFile::exists(savedLog))
        return;
    QFile::remove(logFileName);
    QFile::rename(savedLog, logFileName);
}
