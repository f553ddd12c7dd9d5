#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

class QIODevice;

// Reads what earlier runs left behind, a marks file and a log (or a dump),
// from any device, and says what of it a resumed run can build on. It
// changes nothing: cutting the files and reporting is the caller's.
class ResumeScanner
{
public:
    enum class MarksFault { None, Malformed, Duplicate, Unsorted };
    struct MarksScan
    {
        // The highest commit mark up to which every mark is listed, one line
        // each and in order; 0 when the file is faulty.
        quint64 lastValidMark = 0;
        MarksFault fault = MarksFault::None;
        int faultLine = 0;
    };
    static MarksScan scanMarks(QIODevice &marks);
    // Whether fast-import can import the marks.
    static bool marksAreWellFormed(QIODevice &marks);

    // A branch line of the log (ConversionLogLine): a commit, a reset or a deletion.
    struct BranchRecord
    {
        int revision = 0;
        QString branch;
        quint64 mark = 0;
        // A commit, not a reset or a deletion; with the marks of the merge
        // parents that its comment lists.
        bool commit = false;
        bool deletion = false;
        QList<quint64> mergeParents;
    };
    // A commit as the log records it.
    struct LoggedCommit
    {
        int revision = 0;
        quint64 mark = 0;
    };
    // Where a pass over the log stopped, and the lines it accepted.
    struct LogScan
    {
        qint64 cutPosition = -1; // start of the line the log must be cut before; -1: none
        // Start of a last line that was cut short while written; -1: none.
        qint64 incompleteLineAt = -1;
        // A mark beyond the marks file: the log must be cut at its revision.
        bool unknownMarkFound = false;
        int cutoff = 0; // lowered to the revision of an unknown mark
        int nextRevision = 1;
        // The last revision, when the log says its commands are complete for
        // others but not for it.
        int unfinishedRevision = 0;
        // Pairs of (earlier, later) revision numbers that go backwards.
        QList<QPair<int, int>> revisionsOutOfOrder;
        QList<BranchRecord> branchRecords;
        QList<LoggedCommit> commits;
    };
    // Reads the log from its current position until the end, the first line
    // of the cut-off revision or later, or the first line naming a mark
    // beyond lastValidMark.
    static LogScan scanLog(QIODevice &log, quint64 lastValidMark, int cutoff, bool dump);
    // Where a dump can be cut for the run that goes on with it, lowering the
    // cut-off to the first revision that loses a progress line.
    static qint64 dumpResumePoint(QIODevice &dump, int &cutoff);
};
