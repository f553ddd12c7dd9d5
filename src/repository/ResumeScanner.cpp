#include "repository/ResumeScanner.h"

#include <QIODevice>
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
void skipDataBlock(QIODevice &device, const QByteArray &line)
{
    if (!line.startsWith("data ") || !line.endsWith('\n'))
        return;
    bool ok = false;
    const qint64 length = line.mid(5, line.size() - 6).toLongLong(&ok);
    if (ok && length > 0)
        device.seek(qMin(device.pos() + length, device.size()));
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

ResumeScanner::MarksScan ResumeScanner::scanMarks(QIODevice &marks)
{
    MarksScan scan;
    int lineNumber = 0;
    bool commitMarksEnded = false;
    while (!marks.atEnd()) {
        const QByteArray line = marks.readLine();
        ++lineNumber;

        quint64 mark = 0;
        MarksFault fault = MarksFault::None;
        if (!isMarksLine(line, &mark) || mark == 0)
            fault = MarksFault::Malformed;
        else if (commitMarksEnded)
            continue; // the blob and notes marks are only checked for form
        else if (mark == scan.lastValidMark)
            fault = MarksFault::Duplicate;
        else if (mark < scan.lastValidMark)
            fault = MarksFault::Unsorted;
        if (fault != MarksFault::None) {
            scan.lastValidMark = 0;
            scan.fault = fault;
            scan.faultLine = lineNumber;
            return scan;
        }
        if (mark > scan.lastValidMark + 1)
            commitMarksEnded = true; // the first gap ends the commit marks
        else
            scan.lastValidMark = mark;
    }
    return scan;
}

bool ResumeScanner::marksAreWellFormed(QIODevice &marks)
{
    while (!marks.atEnd()) {
        quint64 mark = 0;
        if (!isMarksLine(marks.readLine(), &mark) || mark == 0)
            return false;
    }
    return true;
}

QHash<quint64, QByteArray> ResumeScanner::markObjects(QIODevice &marks)
{
    QHash<quint64, QByteArray> objects;
    while (!marks.atEnd()) {
        const QByteArray line = marks.readLine();
        quint64 mark = 0;
        if (isMarksLine(line, &mark))
            objects.insert(mark, line.mid(line.indexOf(' ') + 1).trimmed());
    }
    return objects;
}

ResumeScanner::LogScan ResumeScanner::scanLog(QIODevice &log, quint64 lastValidMark, int cutoff,
                                              bool dump)
{
    // The comment starts after the mark: a branch name may hold a "#" (git
    // allows it), but never a blank, so the first " = :" ends the name.
    static const QRegularExpression progressLine(QRegularExpression::anchoredPattern(
        QStringLiteral("progress SVN r(\\d+) branch (.*?) = :(\\d+)(?: #(.*))?")));
    LogScan scan;
    scan.cutoff = cutoff;
    int lastRevision = 0;
    int lastFinishedRevision = 0;
    while (!log.atEnd()) {
        const qint64 lineStart = log.pos();
        QByteArray line = log.readLine();
        if (dump)
            skipDataBlock(log, line);
        if (!line.endsWith('\n')) {
            // Cut short while it was written: its mark may have lost digits,
            // and output appended later would run on from it.
            scan.incompleteLineAt = lineStart;
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
            scan.revisionsOutOfOrder.append({lastRevision, revision});
        if (mark > lastValidMark) {
            scan.cutoff = revision;
            scan.cutPosition = lineStart;
            scan.unknownMarkFound = true;
            return scan;
        }

        // Branch operations say where a branch came from or "delete"; commits
        // carry no comment or their merge sources.
        const QLatin1String mergeFrom("merge from");
        const bool commit = mark != 0 && (comment.isEmpty() || comment.startsWith(mergeFrom));
        QList<quint64> mergeParents;
        if (commit) {
            for (const QString &word : comment.mid(mergeFrom.size()).split(
                         QLatin1Char(' '), Qt::SkipEmptyParts))
                mergeParents.append(word.mid(1).toULongLong());
        }
        scan.branchRecords.append({revision, branch, mark, commit, mergeParents});
        lastRevision = revision;
        if (commit)
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

// A dump is only a copy of the stream: every command in it reaches git on
// import, and a commit comes before the progress line that names it, so a
// cut before a revision's first progress line would leave its first commit
// twice. Dumps that mark finished revisions are cut after the last one
// before the cut-off, which also drops the annotated tags written at the end
// of the run (they are written again at the end of the next one). Older
// dumps are cut after their last "checkpoint", which lies between revisions.
qint64 ResumeScanner::dumpResumePoint(QIODevice &dump, int &cutoff)
{
    static const QRegularExpression progressLine(
        QStringLiteral("^progress SVN r(\\d+) branch "));
    qint64 checkpointEnd = 0;
    qint64 finishedEnd = -1;
    int firstAfterCheckpoint = 0;
    int firstAfterFinished = 0;
    dump.seek(0);
    while (!dump.atEnd()) {
        const QByteArray line = dump.readLine();
        skipDataBlock(dump, line);
        if (line == "checkpoint\n") {
            checkpointEnd = dump.pos();
            firstAfterCheckpoint = 0;
            continue;
        }
        const int finished = finishedRevision(line);
        if (finished > 0 && finished < cutoff) {
            if (dump.peek(1) == "\n")
                dump.read(1);
            finishedEnd = dump.pos();
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
    if (firstLost > 0 && firstLost < cutoff && end < dump.size())
        cutoff = firstLost;
    return end;
}
