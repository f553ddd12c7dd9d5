// Resuming: rebuilding the branch records from the log and marks files that
// earlier runs left behind.
#include "repository/FastImportRepository.h"

#include "driver/CommandLineParser.h"
#include "repository/GitObjectReader.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QFile>
#include <QRegExp>

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

// Where a pass over the log stopped, and the last commit it accepted.
struct FastImportRepository::LogScan
{
    qint64 cutPosition = -1; // start of the line the log must be cut before; -1: none
    bool unknownMarkFound = false;
    int nextRevision = 1;
    qint64 lastCommitLineStart = -1;
    int lastCommitRevision = 0;
    quint64 lastCommitMark = 0;
};

int FastImportRepository::prepareResume(int &cutoff)
{
    QFile logFile(RepositoryFileNames::logFileNameFor(repositoryName));
    if (!logFile.exists() || !logFile.open(QIODevice::ReadWrite)) {
        // Without a log nothing refers to the marks, but fast-import still
        // has to read the file.
        if (!marksFileIsWellFormed())
            setAsideDamagedMarksFile();
        return 1;
    }

    quint64 lastValidMark = 0;
    if (!readLastValidMark(lastValidMark))
        setAsideDamagedMarksFile();

    const QHash<QString, BranchState> preparedStates = branchStates;
    const quint64 preparedHighestMark = highestCommitMark;
    for (;;) {
        const LogScan scan = scanLog(logFile, lastValidMark, cutoff);
        if (scan.unknownMarkFound || !lastCommitLostItsNote(scan)) {
            if (scan.cutPosition >= 0)
                return truncateLog(logFile, scan.cutPosition, cutoff);
            if (scan.nextRevision == cutoff)
                QFile::remove(logFile.fileName() + QStringLiteral(".old"));
            return scan.nextRevision;
        }
        // The progress line of a commit comes before the commit's note, so a
        // run that died in between left a commit without its note. Doing that
        // revision again rebuilds the very same commits, and the note with them.
        qWarning() << "WARN:" << repositoryName << "the note of the commit of revision"
                   << scan.lastCommitRevision << "is missing: rewinding";
        cutoff = scan.lastCommitRevision;
        branchStates = preparedStates;
        highestCommitMark = preparedHighestMark;
        logFile.seek(0);
    }
}

// Reads the log from its current position, filling the branch records with
// every line it accepts, until the end or the first line that must go.
FastImportRepository::LogScan FastImportRepository::scanLog(QFile &logFile, quint64 lastValidMark,
                                                            int &cutoff)
{
    const QRegExp progressLine(QStringLiteral("progress SVN r(\\d+) branch (.*) = :(\\d+)"));
    LogScan scan;
    int lastRevision = 0;
    while (!logFile.atEnd()) {
        const qint64 lineStart = logFile.pos();
        QByteArray line = logFile.readLine();
        if (!line.endsWith('\n')) {
            // Cut short while it was written: its mark may have lost digits,
            // and output appended later would run on from it.
            qWarning() << "WARN:" << repositoryName << "the log ends in an incomplete line:"
                       << "removed";
            logFile.resize(lineStart);
            break;
        }
        QByteArray comment;
        const qsizetype commentStart = line.indexOf('#');
        if (commentStart >= 0) {
            comment = line.mid(commentStart + 1).trimmed();
            line.truncate(commentStart);
        }
        line = line.trimmed();
        if (line.isEmpty())
            continue;

        if (!progressLine.exactMatch(QString::fromUtf8(line)))
            continue;
        const int revision = progressLine.cap(1).toInt();
        const QString branch = progressLine.cap(2);
        const quint64 mark = progressLine.cap(3).toULongLong();

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
        BranchState &state = branchStates[branch];
        if (mark == 0 || state.createdRevision == 0 || state.commitMarks.isEmpty()
            || state.commitMarks.last() == 0)
            state.createdRevision = revision;
        state.commitRevisions.append(revision);
        state.commitMarks.append(int(mark));
        lastRevision = revision;

        // Branch operations say where a branch came from or "delete"; commits
        // carry no comment or their merge sources.
        if (mark != 0 && (comment.isEmpty() || comment.startsWith("merge from"))) {
            scan.lastCommitLineStart = lineStart;
            scan.lastCommitRevision = revision;
            scan.lastCommitMark = mark;
        }
    }
    scan.nextRevision = lastRevision + 1;
    return scan;
}

// With notes on, whether the last commit the log accepted lacks the note that
// was written right after it.
bool FastImportRepository::lastCommitLostItsNote(const LogScan &scan) const
{
    if (scan.lastCommitLineStart < 0
        || !CommandLineParser::instance()->contains(QStringLiteral("add-metadata-notes")))
        return false;
    const QHash<quint64, QByteArray> objects = marksFileObjects();
    const QByteArray commit = objects.value(scan.lastCommitMark);
    return commit.isEmpty() || !notesInGit(objects).contains(commit);
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
// copy beside it.
int FastImportRepository::truncateLog(QFile &logFile, qint64 position, int cutoff)
{
    const QString savedLog = logFile.fileName() + QStringLiteral(".old");
    QFile::remove(savedLog);
    QFile::copy(logFile.fileName(), savedLog);
    qDebug() << repositoryName << "truncating history to revision" << cutoff;
    logFile.resize(position);
    return cutoff;
}

void FastImportRepository::recoverLogFile()
{
    const QString logFileName = RepositoryFileNames::logFileNameFor(repositoryName);
    const QString savedLog = logFileName + QStringLiteral(".old");
    if (!QFile::exists(savedLog))
        return;
    QFile::remove(logFileName);
    QFile::rename(savedLog, logFileName);
}
