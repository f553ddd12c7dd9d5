#include "repository/RepositoryResume.h"

#include "repository/BranchNotes.h"
#include "repository/BranchTable.h"
#include "repository/BranchUpdates.h"
#include "repository/CommitStream.h"
#include "repository/GitCommand.h"
#include "repository/GitNames.h"
#include "repository/MarksFile.h"
#include "repository/RepositoryFileNames.h"
#include "repository/RepositoryLocks.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// The conversion goes on without the faulty file (it is set aside), so the
// fault is a warning, printed where it is found.
void warnOfMarksFault(const QString &marksFileName, const ResumeScanner::MarksScan &scan)
{
    switch (scan.fault) {
    case ResumeScanner::MarksFault::None:
        return;
    case ResumeScanner::MarksFault::Malformed:
        qWarning() << marksFileName << "line" << scan.faultLine << "marks file corrupt?"
                   << "mark " << 0;
        return;
    case ResumeScanner::MarksFault::Duplicate:
        qWarning() << marksFileName << "line" << scan.faultLine << "marks file has duplicates";
        return;
    case ResumeScanner::MarksFault::Unsorted:
        qWarning() << marksFileName << "line" << scan.faultLine << "marks file not sorted";
        return;
    }
}

} // namespace

RepositoryResume::RepositoryResume(const QString &repositoryName, const RepositoryOptions &options,
                                   BranchTable &branches, CommitStream &commits,
                                   const BranchNotes &notes)
    : m_repositoryName(repositoryName), m_options(options), m_branches(branches),
      m_commits(commits), m_notes(notes)
{
}

// The highest commit mark up to which the marks file lists every mark, one
// line each and in order; 0 when the file is missing or faulty. Returns
// false when the file is faulty anywhere, so that fast-import could not read it.
bool RepositoryResume::readLastValidMark(quint64 &lastValidMark) const
{
    lastValidMark = 0;
    const QString marksFileName = RepositoryFileNames::marksFilePath(m_repositoryName);
    QFile marksFile(marksFileName);
    if (!marksFile.open(QIODevice::ReadOnly))
        return true;

    qDebug() << "marksfile " << marksFileName;
    const ResumeScanner::MarksScan scan = ResumeScanner::scanMarks(marksFile);
    warnOfMarksFault(marksFileName, scan);
    lastValidMark = scan.lastValidMark;
    return scan.fault == ResumeScanner::MarksFault::None;
}

// Whether fast-import can import the marks file (a missing one needs no import).
bool RepositoryResume::marksFileIsWellFormed() const
{
    QFile marksFile(RepositoryFileNames::marksFilePath(m_repositoryName));
    if (!marksFile.open(QIODevice::ReadOnly))
        return true;
    return ResumeScanner::marksAreWellFormed(marksFile);
}

// A faulty marks file would stop every fast-import that is given it. Nothing
// in it is used any more (the log was rewound to before its first commit), so
// it is kept aside for inspection and the conversion starts from no marks.
// One that cannot be set aside fails the resume: fast-import would stop on it.
Status RepositoryResume::setAsideDamagedMarksFile() const
{
    const QString marksFileName = RepositoryFileNames::marksFilePath(m_repositoryName);
    const QString damagedName = marksFileName + QStringLiteral(".damaged");
    QFile::remove(damagedName);
    if (!QFile::rename(marksFileName, damagedName))
        return Failure() << m_repositoryName << "cannot set aside the damaged marks file"
                         << marksFileName << "as" << damagedName;
    // fast-import refuses to start without the file it is told to import.
    QFile marks(marksFileName);
    if (!marks.open(QIODevice::WriteOnly))
        qWarning() << "WARN:" << m_repositoryName << "cannot make a new marks file" << marksFileName
                   << ":" << qPrintable(marks.errorString());
    qWarning() << "WARN:" << m_repositoryName << "the damaged marks file was kept as" << damagedName
               << "and its commits will be converted again";
    return Status();
}

Result<int> RepositoryResume::resumeFromStateFiles(int &cutoff)
{
    // With a lock left in the repository, this run's fast-import could not
    // update the refs, and the commits of the whole run would be lost. The
    // wait names each lock that stays, one message per lock.
    if (!m_options.writesToFile()) {
        if (Status unlocked = RepositoryLocks::waitUntilUnlocked(m_repositoryName); !unlocked)
            return unlocked.failure();
    }
    Result<int> resumed = resumeFromLog(cutoff);
    if (resumed)
        m_resumeRevision = resumed.value();
    return resumed;
}

Result<int> RepositoryResume::resumeFromLog(int &cutoff)
{
    QFile logFile(RepositoryFileNames::logFileNameFor(m_repositoryName, m_options.createDump));
    if (!logFile.exists() || !logFile.open(QIODevice::ReadWrite)) {
        // Without a log nothing refers to the marks, but fast-import still
        // has to read the file.
        if (!marksFileIsWellFormed()) {
            if (Status setAside = setAsideDamagedMarksFile(); !setAside)
                return setAside.failure();
        }
        return 1;
    }

    bool dumpCut = false;
    const Result<quint64> validMark = lastValidMark(logFile, cutoff, dumpCut);
    if (!validMark)
        return validMark.failure();
    const quint64 lastValid = validMark.value();

    const BranchTable preparedBranches = m_branches;
    const quint64 preparedHighestMark = m_commits.highestCommitMark();
    // Forgets what the log gave and reads it again up to the new cut-off.
    auto rescanBefore = [&](int revision) {
        cutoff = revision;
        m_branches = preparedBranches;
        m_commits.ancestry().clear();
        m_commits.setHighestCommitMark(preparedHighestMark);
        logFile.seek(0);
        return scanLog(logFile, lastValid, cutoff);
    };
    ResumeScanner::LogScan scan = scanLog(logFile, lastValid, cutoff);
    if (scan.unknownMarkFound) {
        // fast-import died after its last checkpoint: the resets and
        // deletions logged since the last commit it kept may not be in git,
        // nor those of the revision cut in its middle. Converting from the
        // first of them makes them again.
        const int from = m_firstUnconfirmedRevision > 0
                                 ? std::min(m_firstUnconfirmedRevision, cutoff)
                                 : cutoff;
        if (!scan.branchRecords.isEmpty() && scan.branchRecords.last().revision >= from)
            scan = rescanBefore(from);
    } else if (const int rewind = rewindRevision(scan); rewind > 0) {
        scan = rescanBefore(rewind);
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

// The highest mark the log may name: all of them in a dump, which is cut
// after its last finished revision first (dumpCut tells whether it was);
// otherwise the last valid mark of the marks file, which is set aside when
// fast-import could not read it.
Result<quint64> RepositoryResume::lastValidMark(QFile &logFile, int &cutoff, bool &dumpCut)
{
    if (m_options.createDump) {
        const qint64 end = ResumeScanner::dumpResumePoint(logFile, cutoff);
        dumpCut = end < logFile.size();
        if (dumpCut) {
            if (Status cut = cutLog(logFile, end, cutoff); !cut)
                return cut.failure();
        }
        logFile.seek(0);
        return ~quint64(0);
    }
    quint64 lastValid = 0;
    if (!readLastValidMark(lastValid)) {
        if (Status setAside = setAsideDamagedMarksFile(); !setAside)
            return setAside.failure();
    }
    return lastValid;
}

// Reads the log from its current position, filling the branch records with
// every line it accepts, until the end or the first line that must go.
ResumeScanner::LogScan RepositoryResume::scanLog(QFile &logFile, quint64 lastValidMark,
                                                 int &cutoff)
{
    const ResumeScanner::LogScan scan =
        ResumeScanner::scanLog(logFile, lastValidMark, cutoff, m_options.createDump);
    for (const auto &[earlier, later] : scan.revisionsOutOfOrder)
        qWarning() << "WARN:" << m_repositoryName << "revision numbers are not monotonic: "
                   << "got" << QString::number(earlier) << "and then" << QString::number(later);
    if (scan.incompleteLineAt >= 0) {
        qWarning() << "WARN:" << m_repositoryName << "the log ends in an incomplete line:"
                   << "removed";
        logFile.resize(scan.incompleteLineAt);
    }
    if (scan.unknownMarkFound)
        qWarning() << "WARN:" << m_repositoryName
                   << "unknown commit mark found: rewinding -- did you hit Ctrl-C?";
    cutoff = scan.cutoff;
    m_firstUnconfirmedRevision = 0;
    m_unconfirmedRefs.clear();
    qsizetype lastCommit = scan.branchRecords.size() - 1;
    while (lastCommit >= 0 && !scan.branchRecords.at(lastCommit).commit)
        --lastCommit;
    for (qsizetype i = 0; i < scan.branchRecords.size(); ++i) {
        const ResumeScanner::BranchRecord &record = scan.branchRecords.at(i);
        if (i > lastCommit)
            noteUnconfirmed(record);
        m_commits.setHighestCommitMark(std::max(m_commits.highestCommitMark(), record.mark));
        if (m_options.svnMergeinfo && record.commit)
            m_commits.ancestry().record(record.mark, record.revision,
                            quint64(m_branches.commitParent(record.branch)), record.mergeParents);
        m_branches.recordLogged(record.branch, record.revision, int(record.mark), record.commit);
    }
    return scan;
}

// The revision that the log must be cut back to although every commit in it
// is known, 0 for none: that of a revision not finished, of a commit without
// its note, or of the first branch line after the last commit when git does
// not hold the refs it left.
int RepositoryResume::rewindRevision(const ResumeScanner::LogScan &scan) const
{
    const int withoutNote = m_options.createDump ? 0 : firstRevisionWithoutNote(scan);
    int rewind = 0;
    if (scan.unfinishedRevision > 0
        && (withoutNote == 0 || scan.unfinishedRevision < withoutNote)) {
        // A run died between two commands of the revision. Converting it
        // again gives the same commits, and those that are missing.
        qWarning() << "WARN:" << m_repositoryName << "revision" << scan.unfinishedRevision
                   << "was not finished: converting it again";
        rewind = scan.unfinishedRevision;
    } else if (withoutNote > 0) {
        // The progress line of a commit comes before the commit's note, so a
        // run that died in between left a commit without its note; a
        // conversion that had notes off has none at all. Doing the revisions
        // again from there rebuilds the very same commits, with their notes.
        qWarning() << "WARN:" << m_repositoryName << "the note of the commit of revision"
                   << withoutNote << "is missing: rewinding;"
                   << scan.nextRevision - withoutNote << "revisions will be converted again";
        rewind = withoutNote;
    }
    if (rewind != 0 && rewind <= m_firstUnconfirmedRevision)
        return rewind;
    const QByteArray differing = refDifferingFromLog();
    if (differing.isEmpty())
        return rewind;
    qWarning() << "WARN:" << m_repositoryName << "ref" << QString::fromUtf8(differing)
               << "is not as the log says: converting again from revision"
               << m_firstUnconfirmedRevision;
    return m_firstUnconfirmedRevision;
}

// Keeps what a branch line after the last commit of the log says git holds:
// the ref of its branch, and the backup of the branch's head that was made
// before it, as BranchUpdates makes them.
void RepositoryResume::noteUnconfirmed(const ResumeScanner::BranchRecord &record)
{
    if (m_firstUnconfirmedRevision == 0)
        m_firstUnconfirmedRevision = record.revision;
    const QByteArray ref = GitNames::refFor(record.branch);
    const int created = m_branches.createdRevision(record.branch);
    const int head = m_branches.headMark(record.branch);
    if (created != 0 && created != record.revision && head > 0)
        m_unconfirmedRefs.insert(BranchUpdates::backupRef(ref, record.revision, record.deletion),
                                 quint64(head));
    m_unconfirmedRefs.insert(ref, record.mark);
}

// The first ref that the branch lines after the last commit of the log leave
// otherwise than git holds it; empty when git holds them all, or cannot say.
// A tag written over a branch's ref counts as the commit it points to.
QByteArray RepositoryResume::refDifferingFromLog() const
{
    if (m_unconfirmedRefs.isEmpty() || m_options.writesToFile())
        return QByteArray();
    const GitCommand git = GitCommand::run(
            {QStringLiteral("for-each-ref"),
             QStringLiteral("--format=%(refname) %(objectname) %(*objectname)")},
            m_repositoryName);
    if (!git.succeeded())
        return QByteArray();
    QHash<QByteArray, QByteArray> inGit;
    for (const QByteArray &line : git.output().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3)
            inGit.insert(words[0], words[2].isEmpty() ? words[1] : words[2]);
    }
    // Without a readable marks file no ref is as the log says, and the
    // revisions are converted again.
    MarksFile marks;
    (void)marks.open(RepositoryFileNames::marksFilePath(m_repositoryName));
    for (auto it = m_unconfirmedRefs.constBegin(); it != m_unconfirmedRefs.constEnd(); ++it) {
        const QByteArray expected = it.value() == 0 ? QByteArray() : marks.commitOf(it.value());
        if (inGit.value(it.key()) != expected || (it.value() != 0 && expected.isEmpty()))
            return it.key();
    }
    return QByteArray();
}

// With notes on, the revision of the first commit the log accepted that has
// no note in git; 0 when every one has its note. One look at the marks and
// the notes serves the whole log.
int RepositoryResume::firstRevisionWithoutNote(const ResumeScanner::LogScan &scan) const
{
    if (scan.commits.isEmpty()
        || !m_options.addMetadataNotes)
        return 0;
    const QHash<quint64, QByteArray> objects = m_notes.marksFileObjects();
    const QHash<QByteArray, QByteArray> notes = m_notes.notesInGit(objects);
    for (const ResumeScanner::LoggedCommit &commit : scan.commits) {
        const QByteArray object = objects.value(commit.mark);
        if (object.isEmpty() || !notes.contains(object))
            return commit.revision;
    }
    return 0;
}

// Cuts the log before the line that starts at position, after saving a full
// copy beside it. When the copy cannot be made whole (a full disk), the log
// is left as it is and the failure returned: cut, it would be lost.
Status RepositoryResume::cutLog(QFile &logFile, qint64 position, int cutoff)
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
        return Failure() << m_repositoryName << "cannot save the log" << logFile.fileName()
                         << "as" << savedLog << "before cutting it to revision" << cutoff
                         << ": the log is left as it was";
    }
    qDebug() << m_repositoryName << "truncating history to revision" << cutoff;
    logFile.resize(position);
    return Status();
}

Status RepositoryResume::recoverLogFile()
{
    const QString logFileName =
            RepositoryFileNames::logFileNameFor(m_repositoryName, m_options.createDump);
    const QString savedLog = logFileName + QStringLiteral(".old");
    if (!QFile::exists(savedLog))
        return Status();
    QFile::remove(logFileName);
    if (!QFile::rename(savedLog, logFileName))
        return Failure() << m_repositoryName << "cannot restore the log" << logFileName << "from"
                         << savedLog;
    return Status();
}
