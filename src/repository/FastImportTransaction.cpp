#include "repository/FastImportTransaction.h"

#include "repository/BranchNotes.h"
#include "repository/BranchTable.h"
#include "repository/CommitStream.h"
#include "repository/ConversionLogLine.h"
#include "repository/FastImportProcess.h"
#include "repository/FastImportStream.h"
#include "repository/GitNames.h"
#include "repository/MergeParents.h"
#include "repository/Metadata.h"

#include <QDebug>

#include <algorithm>
#include <cstdio>

using GitNames::refFor;

namespace {

constexpr int maximumParents = 16;

} // namespace

FastImportTransaction::FastImportTransaction(CommitStream &stream, const QString &branch,
                                             const QString &svnPrefix, int revision)
    : m_stream(stream),
      m_branch(branch.toUtf8()),
      m_svnPrefix(svnPrefix.toUtf8()),
      m_revision(revision)
{
    m_stream.blobMarks().transactionOpened();
}

FastImportTransaction::~FastImportTransaction()
{
    m_stream.blobMarks().transactionClosed();
}

void FastImportTransaction::setCommitter(const QByteArray &identity)
{
    m_committer = identity;
}

void FastImportTransaction::setCommitTime(uint seconds)
{
    m_commitTime = seconds;
}

void FastImportTransaction::setMessage(const QByteArray &text)
{
    m_message = text;
}

void FastImportTransaction::removePath(const QString &path)
{
    QString removed = GitNames::normalisedPath(path);
    if (removed.endsWith(QLatin1Char('/')))
        removed.chop(1);
    m_removedPaths.append(removed);
}

Result<QIODevice *> FastImportTransaction::openFile(const QString &path, int mode,
                                                                qint64 length)
{
    const quint64 blobMark = m_stream.blobMarks().takeMark();

    if (m_fileCommands.isEmpty())
        m_fileCommands.reserve(2048);
    m_fileCommands += "M " + QByteArray::number(mode, 8) + " :" + QByteArray::number(blobMark)
                    + " " + FastImportStream::pathFor(GitNames::normalisedPath(path))
                    + "\n";

    if (Status running = m_stream.process().ensureRunning(); !running)
        return running.failure();
    if (m_stream.options().dryRun)
        return static_cast<QIODevice *>(&m_stream.process().channel());

    // The blob goes out at once and is not mirrored: the mirror file holds the
    // stream without file contents.
    m_stream.process().channel().write("blob\nmark :" + QByteArray::number(blobMark) + "\ndata "
                                    + QByteArray::number(length) + "\n");
    return static_cast<QIODevice *>(&m_stream.process().channel());
}

void FastImportTransaction::recordMergeSource(const QString &sourceBranch,
                                                          int sourceRevision)
{
    const QString branchName = QString::fromUtf8(m_branch);
    if (sourceBranch == branchName) {
        qWarning() << "WARN: Cannot merge inside a branch";
        return;
    }

    QByteArray noDescription;
    const std::optional<int> sourceMark =
            m_stream.branches().markForRevision(sourceBranch, sourceRevision, noDescription);
    if (sourceMark == 0) {
        qWarning() << "WARN: Unknown revision r" << QString::number(sourceRevision)
                   << ".  Continuing, assuming the files exist.";
        return;
    }
    if (!sourceMark) {
        qWarning() << "WARN:" << branchName << "is copying from branch" << sourceBranch
                   << "but the latter doesn't exist.  Continuing, assuming the files exist.";
        return;
    }
    const int mark = *sourceMark;

    const QString source = sourceBranch + QLatin1Char('@') + QString::number(sourceRevision);
    qWarning() << (QStringLiteral("WARN: repository ") + m_stream.repositoryName()
                   + QStringLiteral(" branch ") + branchName
                   + QStringLiteral(" has some files copied from ") + source);
    if (m_mergeMarks.contains(mark)) {
        qDebug() << "merge point already recorded";
        return;
    }
    m_mergeMarks.append(mark);
    qDebug() << "adding" << source << ":" << mark << "as a merge point";
}

void FastImportTransaction::recordMergeInfoChange(const MergeInfoChange &change)
{
    m_parentsFromMergeInfo = true;
    m_mergeInfo.sources += change.sources;
}

// Each source whose revisions grew: a parent when merged in full and not
// reached yet, a metadata line when merged in part or from no branch of this
// repository. Parents follow the byte order of the source paths.
FastImportTransaction::MergeInfoParents
FastImportTransaction::mergeInfoParents(int head) const
{
    QList<MergeInfoChange::Source> sources = m_mergeInfo.sources;
    std::stable_sort(sources.begin(), sources.end(),
                     [](const MergeInfoChange::Source &a, const MergeInfoChange::Source &b) {
                         return a.svnPath < b.svnPath;
                     });
    const CommitGraph &graph = m_stream.ancestry();
    MergeInfoParents result;
    QList<quint64> candidates;
    for (const MergeInfoChange::Source &source : std::as_const(sources)) {
        int tip = 0;
        if (!source.branch.isEmpty()) {
            QByteArray noDescription;
            tip = m_stream.branches()
                          .markForRevision(source.branch, source.added.last(), noDescription)
                          .value_or(0);
        }
        if (tip > 0) {
            const MergeParents::Outcome outcome = MergeParents::judge(
                    graph, quint64(std::max(head, 0)), quint64(tip), source.merged,
                    m_stream.branches().createdRevision(source.branch));
            if (outcome == MergeParents::Outcome::Parent)
                candidates.append(quint64(tip));
            if (outcome != MergeParents::Outcome::Partial)
                continue;
        }
        result.metadata += formatCherryPick(source.svnPath, source.added.toText());
    }
    for (quint64 parent : MergeParents::withoutRedundant(graph, quint64(std::max(head, 0)),
                                                         candidates))
        result.parents.append(int(parent));
    return result;
}

// One branch name that is a directory prefix of another cannot exist in git
// beside it.
Status FastImportTransaction::checkBranchCollision() const
{
    // In name order: the same run names the same branch.
    const std::optional<QString> name =
            m_stream.branches().collidingBranch(QString::fromUtf8(m_branch));
    if (name)
        return Failure() << "Branch" << QString::fromUtf8(m_branch)
                         << "conflicts with already existing branch" << *name;
    return Status();
}

Result<QByteArray> FastImportTransaction::commitMessage(
        const QByteArray &mergeMetadata) const
{
    return m_stream.messageFilter().filter(messageWithMetadata(
            m_message, m_stream.options().addMetadata
                    ? formatMetadata(m_svnPrefix, m_revision) + mergeMetadata
                    : QByteArray()));
}

// Records the commit in the branch's state and returns the mark of its parent,
// 0 when the commit starts (or restarts) the branch.
int FastImportTransaction::chooseParent(int commitMark)
{
    const QString branchName = QString::fromUtf8(m_branch);
    const int parentMark = m_stream.branches().commitParent(branchName);
    if (parentMark == 0 && m_revision > 1 && branchName != m_stream.defaultBranch())
        qWarning() << "WARN: Branch" << branchName << "in repository"
                   << m_stream.repositoryName() << "doesn't exist at revision" << m_revision
                   << "-- did you resume from the wrong revision?";
    m_stream.branches().recordCommit(branchName, m_revision, commitMark);
    return parentMark;
}

// Writes the merge lines and returns the marks for the progress comment.
QList<int> FastImportTransaction::writeMergeParents(int parentMark)
{
    LoggingQProcess &process = m_stream.process().channel();

    if (!m_parentsFromMergeInfo && m_message.contains("This commit was manufactured by cvs2svn")
        && m_mergeMarks.size() > 1) {
        // cvs2svn records every file's origin as a merge source; only the
        // newest one is a real parent.
        QList<int> marks = m_mergeMarks;
        std::sort(marks.begin(), marks.end());
        process.writeMirrored("merge :" + QByteArray::number(marks.last()) + "\n");
        marks.removeLast();
        qWarning() << "WARN: Discarding all but the highest merge point as a workaround for "
                      "cvs2svn created branch/tag"
                   << "Discarded marks:" << marks;
        return QList<int>();
    }

    QList<int> written;
    int parents = parentMark != 0 ? 1 : 0;
    for (int mark : std::as_const(m_mergeMarks)) {
        if (mark == parentMark) {
            qDebug() << "Skipping marking" << parentMark
                     << "as a merge point as it matches the parent";
            continue;
        }
        if (++parents > maximumParents) {
            qWarning() << "WARN: too many merge parents";
            break;
        }
        written.append(mark);
        process.writeMirrored("merge :" + QByteArray::number(mark) + "\n");
    }
    return written;
}

void FastImportTransaction::writeDeletions()
{
    LoggingQProcess &process = m_stream.process().channel();
    if (m_removedPaths.contains(QString())) {
        process.writeMirrored("deleteall\n");
        return;
    }
    for (const QString &path : std::as_const(m_removedPaths))
        process.writeMirrored("D " + FastImportStream::pathFor(path) + "\n");
}

// A process that failed has reported why where it failed, through the
// options' failure reporter.
Status FastImportTransaction::writeCommit()
{
    if (Status collision = checkBranchCollision(); !collision)
        return collision;

    if (Status running = m_stream.process().ensureRunning(); !running)
        return running;
    const quint64 commitMark = m_stream.takeCommitMark();
    const QString branchName = QString::fromUtf8(m_branch);
    MergeInfoParents fromMergeInfo;
    if (m_parentsFromMergeInfo) {
        fromMergeInfo = mergeInfoParents(m_stream.branches().commitParent(branchName));
        m_mergeMarks = fromMergeInfo.parents;
    }
    const Result<QByteArray> filtered = commitMessage(fromMergeInfo.metadata);
    if (!filtered)
        return filtered.failure();
    const QByteArray &text = filtered.value();
    const int parentMark = chooseParent(int(commitMark));

    // No "from" line: the parent is what the branch ref points to inside the
    // process, set by earlier commits, resets and the announcements.
    LoggingQProcess &process = m_stream.process().channel();
    process.writeMirrored("commit " + refFor(m_branch) + "\nmark :"
                          + QByteArray::number(commitMark) + "\ncommitter " + m_committer + " "
                          + QByteArray::number(m_commitTime) + " +0000\ndata "
                          + QByteArray::number(text.size()) + "\n" + text + "\n");

    const QList<int> mergeParents = writeMergeParents(parentMark);
    if (m_stream.options().svnMergeinfo)
        m_stream.ancestry().record(commitMark, m_revision, quint64(parentMark),
                                    QList<quint64>(mergeParents.cbegin(), mergeParents.cend()));
    writeDeletions();
    process.writeMirrored(m_fileCommands);

    const QByteArray mergeComment = ConversionLogLine::mergeComment(mergeParents);
    process.writeMirrored("\n"
                          + ConversionLogLine::branchLine(m_revision, m_branch,
                                                          qint64(commitMark), mergeComment)
                          + "\n\n");

    printf(" %d modifications from SVN %s to %s/%s",
           int(m_removedPaths.size() + m_fileCommands.count('\n')), m_svnPrefix.constData(),
           qPrintable(m_stream.repositoryName()), m_branch.constData());
    fflush(stdout);

    if (m_stream.options().addMetadataNotes)
        writeNote(formatMetadata(m_svnPrefix, m_revision) + fromMergeInfo.metadata, false);

    // A process that died takes the commits it was sent with it: the
    // revision fails rather than report them done. The commit itself may
    // wait in the stream's last chunk: a run that dies with it unsent has
    // no progress line for it in the log, so the next run converts it again.
    return m_stream.process().passOn();
}

bool FastImportTransaction::writeNote(const QByteArray &noteText, bool append,
                                                  const QByteArray &commit)
{
    const QByteArray ref = refFor(m_branch);
    const QByteArray target = commit.isEmpty() ? ref : commit;
    QByteArray commitText = "Adding Git note for current " + target + "\n";

    QByteArray text = noteText;
    if (!text.endsWith('\n'))
        text += '\n';

    const QString branchName = QString::fromUtf8(m_branch);
    QByteArray existingNote = m_stream.notes().noteFor(branchName);
    if (!existingNote.isEmpty() && !existingNote.endsWith('\n'))
        existingNote += '\n';

    if (append && commit.isEmpty() && m_stream.branches().contains(branchName)
        && !existingNote.isEmpty()) {
        const qsizetype found = existingNote.indexOf(text);
        if (found == 0 || (found > 0 && existingNote.at(found - 1) == '\n'))
            return false;
        text = existingNote + text;
        commitText = "Appending Git note for current " + target + "\n";
    }

    const QByteArray block = "commit refs/notes/commits\nmark :"
                             + QByteArray::number(BranchNotes::commitMark) + "\ncommitter "
                             + m_committer + " " + QByteArray::number(m_commitTime)
                             + " +0000\ndata "
                             + QByteArray::number(commitText.size()) + "\n" + commitText
                             + "\nN inline " + target + "\ndata " + QByteArray::number(text.size())
                             + "\n" + text + "\n";

    m_stream.process().ensureRunning().ok();
    m_stream.process().channel().writeMirrored(block);

    if (commit.isEmpty())
        m_stream.notes().setNoteFor(branchName, text);
    return true;
}
