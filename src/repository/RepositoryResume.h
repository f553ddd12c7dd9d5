#pragma once

#include "common/Failure.h"
#include "repository/RepositoryOptions.h"
#include "repository/ResumeScanner.h"

#include <QByteArray>
#include <QMap>
#include <QString>

class BranchNotes;
class BranchTable;
class CommitStream;
class QFile;

// Resuming one fast-import repository: rebuilds the branch records and the
// commit marks from the log and marks files that earlier runs left behind,
// cuts the log back to the revision to go on from, and sets aside a marks
// file that fast-import could not read.
class RepositoryResume
{
public:
    RepositoryResume(const QString &repositoryName, const RepositoryOptions &options,
                     BranchTable &branches, CommitStream &commits, const BranchNotes &notes);

    // The revision to go on from (the cut-off may be lowered to it), or why
    // the state files do not allow a resume.
    Result<int> resumeFromStateFiles(int &cutoff);
    // The revision from which the log lets the conversion go on; 0 until
    // resumeFromStateFiles has read it.
    int resumeRevision() const { return m_resumeRevision; }
    // Puts back the log saved before it was cut; a log that cannot be put
    // back fails the resume.
    Status recoverLogFile();

private:
    bool readLastValidMark(quint64 &lastValidMark) const;
    bool marksFileIsWellFormed() const;
    Status setAsideDamagedMarksFile() const;
    Result<int> resumeFromLog(int &cutoff);
    Result<quint64> lastValidMark(QFile &logFile, int &cutoff, bool &dumpCut);
    ResumeScanner::LogScan scanLog(QFile &logFile, quint64 lastValidMark, int &cutoff);
    int firstRevisionWithoutNote(const ResumeScanner::LogScan &scan) const;
    int rewindRevision(const ResumeScanner::LogScan &scan) const;
    void noteUnconfirmed(const ResumeScanner::BranchRecord &record);
    QByteArray refDifferingFromLog() const;
    Status cutLog(QFile &logFile, qint64 position, int cutoff);

    const QString m_repositoryName;
    const RepositoryOptions &m_options;
    BranchTable &m_branches;
    CommitStream &m_commits;
    const BranchNotes &m_notes;
    int m_resumeRevision = 0;
    // The branch lines after the last commit of the log: fast-import writes
    // refs only at checkpoints and at its end, so a fast-import killed after
    // them may have lost them. The revision of the first one, and the refs
    // they leave behind: ref name to the mark of its commit, 0 for none.
    int m_firstUnconfirmedRevision = 0;
    QMap<QByteArray, quint64> m_unconfirmedRefs;
};
