#include "repository/ResumeScanner.h"

#include "repository/ConversionLogLine.h"
#include "repository/MarksFile.h"

#include <QIODevice>

namespace {

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

} // namespace

ResumeScanner::MarksScan ResumeScanner::scanMarks(QIODevice &marks)
{
    MarksScan scan;
    int lineNumber = 0;
    bool commitMarksEnded = false;
    while (!marks.atEnd()) {
        const QByteArray line = marks.readLine();
        ++lineNumber;

        const std::optional<MarksFile::Line> parsed = MarksFile::parseLine(line);
        const quint64 mark = parsed ? parsed->mark : 0;
        MarksFault fault = MarksFault::None;
        if (!parsed || !parsed->wellFormed || mark == 0)
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
        const std::optional<MarksFile::Line> line = MarksFile::parseLine(marks.readLine());
        if (!line || !line->wellFormed || line->mark == 0)
            return false;
    }
    return true;
}

ResumeScanner::LogScan ResumeScanner::scanLog(QIODevice &log, quint64 lastValidMark, int cutoff,
                                              bool dump)
{
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
        const ConversionLogLine parsed = ConversionLogLine::parse(line);
        if (parsed.kind() == ConversionLogLine::Kind::Done) {
            if (parsed.revision() > 0)
                lastFinishedRevision = parsed.revision();
            continue;
        }
        if (parsed.kind() != ConversionLogLine::Kind::Branch)
            continue;
        const int revision = parsed.revision();
        const quint64 mark = parsed.mark();

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

        const bool commit = parsed.isCommit();
        scan.branchRecords.append({revision, parsed.branch(), mark, commit, parsed.isDeletion(),
                                   commit ? parsed.mergeParents() : QList<quint64>()});
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
        const ConversionLogLine parsed = ConversionLogLine::parse(line);
        const int finished =
            parsed.kind() == ConversionLogLine::Kind::Done ? parsed.revision() : 0;
        if (finished > 0 && finished < cutoff) {
            if (dump.peek(1) == "\n")
                dump.read(1);
            finishedEnd = dump.pos();
            firstAfterFinished = 0;
            continue;
        }
        const int revision = ConversionLogLine::branchLineRevision(line);
        if (revision == 0)
            continue;
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
