// Resuming: rebuilding the branch records from the log and marks files that
// earlier runs left behind.
#include "repository/FastImportRepository.h"

#include "driver/CommandLineParser.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QRegExp>

// The highest commit mark up to which the marks file lists every mark, one
// line each and in order; 0 when the file is missing or faulty.
void FastImportRepository::readLastValidMark(quint64 &lastValidMark) const
{
    lastValidMark = 0;
    const QString marksFileName = RepositoryFileNames::marksFilePath(repositoryName);
    QFile marksFile(marksFileName);
    if (!marksFile.open(QIODevice::ReadOnly))
        return;

    qDebug() << "marksfile " << marksFileName;
    int lineNumber = 0;
    while (!marksFile.atEnd()) {
        const QByteArray line = marksFile.readLine();
        ++lineNumber;

        const qsizetype blank = line.indexOf(' ');
        bool isNumber = false;
        quint64 mark = 0;
        if (line.startsWith(':') && blank > 0)
            mark = line.mid(1, blank - 1).toULongLong(&isNumber);
        if (!isNumber || mark == 0) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file corrupt?"
                        << "mark " << 0;
            lastValidMark = 0;
            return;
        }
        if (mark == lastValidMark) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file has duplicates";
            lastValidMark = 0;
            return;
        }
        if (mark < lastValidMark) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file not sorted";
            lastValidMark = 0;
            return;
        }
        if (mark > lastValidMark + 1)
            return; // the first gap ends the commit marks
        lastValidMark = mark;
    }
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
    if (!logFile.exists() || !logFile.open(QIODevice::ReadWrite))
        return 1;

    quint64 lastValidMark = 0;
    readLastValidMark(lastValidMark);

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
    const QByteArray commit = objectForMark(scan.lastCommitMark);
    const QByteArray notesCommit = objectForMark(notesCommitMark);
    if (commit.isEmpty() || notesCommit.isEmpty())
        return true;

    QProcess git;
    git.setWorkingDirectory(repositoryName);
    git.start(QStringLiteral("git"), {QStringLiteral("ls-tree"), QStringLiteral("-r"),
                                      QStringLiteral("--name-only"), QString::fromLatin1(notesCommit)});
    if (!git.waitForFinished(-1) || git.exitStatus() != QProcess::NormalExit || git.exitCode() != 0)
        return true;
    // Notes trees may fan out into directories named by the first digits.
    const QList<QByteArray> notedPaths = git.readAllStandardOutput().split('\n');
    for (QByteArray path : notedPaths) {
        if (path.replace('/', QByteArray()) == commit)
            return false;
    }
    return true;
}

// The object name the marks file gives for the mark; empty when it has none.
QByteArray FastImportRepository::objectForMark(quint64 mark) const
{
    QFile marksFile(RepositoryFileNames::marksFilePath(repositoryName));
    if (!marksFile.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray prefix = ':' + QByteArray::number(mark) + ' ';
    while (!marksFile.atEnd()) {
        const QByteArray line = marksFile.readLine();
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed();
    }
    return QByteArray();
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
