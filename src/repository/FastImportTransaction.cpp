// FastImportRepository::Transaction and the operation that opens it.
#include "repository/FastImportRepository.h"

#include "repository/FastImportStream.h"
#include "repository/GitNames.h"
#include "repository/Metadata.h"

#include <QDebug>

#include <algorithm>
#include <cstdio>

using GitNames::refFor;

namespace {

constexpr int maximumParents = 16;

} // namespace

Result<std::unique_ptr<Repository::Transaction>>
FastImportRepository::beginTransaction(const QString &branch, const QString &svnPrefix,
                                       int revision)
{
    // A line feed in a ref would end the command early and turn the rest of
    // the name into a stream command of its own.
    if (FastImportStream::containsLineFeed(branch))
        return Failure() << "Branch" << branch << "in repository" << m_repositoryName
                         << "cannot be written: a branch name must not contain a line feed";

    if (!hasBranch(branch))
        qWarning() << "WARN: Transaction:" << branch << "is not a known branch in repository"
                   << m_repositoryName << "\n"
                   << "Going to create it automatically";

    std::unique_ptr<Repository::Transaction> transaction =
            std::make_unique<Transaction>(this, branch, svnPrefix, revision);

    ++m_transactionsBegun;
    int interval = m_options.commitInterval;
    if (interval < 0)
        interval = -interval;
    // An interval of 0 (or one that is not a number) means no periodic checkpoints.
    if (interval != 0 && m_transactionsBegun % interval == 0) {
        ensureImportRunning();
        m_importProcess.channel().writeMirrored("checkpoint\n");
        qDebug() << "checkpoint!, marks file truncated";
    }

    return transaction;
}

FastImportRepository::Transaction::Transaction(FastImportRepository *repository,
                                               const QString &branch, const QString &svnPrefix,
                                               int revision)
    : m_repository(repository),
      m_branch(branch.toUtf8()),
      m_svnPrefix(svnPrefix.toUtf8()),
      m_revision(revision)
{
    m_repository->m_blobMarks.transactionOpened();
}

FastImportRepository::Transaction::~Transaction()
{
    m_repository->m_blobMarks.transactionClosed();
}

void FastImportRepository::Transaction::setCommitter(const QByteArray &identity)
{
    m_committer = identity;
}

void FastImportRepository::Transaction::setCommitTime(uint seconds)
{
    m_commitTime = seconds;
}

void FastImportRepository::Transaction::setMessage(const QByteArray &text)
{
    m_message = text;
}

void FastImportRepository::Transaction::removePath(const QString &path)
{
    QString removed = GitNames::normalisedPath(path);
    if (removed.endsWith(QLatin1Char('/')))
        removed.chop(1);
    m_removedPaths.append(removed);
}

Result<QIODevice *> FastImportRepository::Transaction::openFile(const QString &path, int mode,
                                                                qint64 length)
{
    const quint64 blobMark = m_repository->m_blobMarks.takeMark();

    if (m_fileCommands.isEmpty())
        m_fileCommands.reserve(2048);
    m_fileCommands += "M " + QByteArray::number(mode, 8) + " :" + QByteArray::number(blobMark)
                    + " " + FastImportStream::pathFor(GitNames::normalisedPath(path))
                    + "\n";

    if (Status running = m_repository->m_importProcess.ensureRunning(); !running)
        return running.failure();
    if (m_repository->m_options.dryRun)
        return static_cast<QIODevice *>(&m_repository->m_importProcess.channel());

    // The blob goes out at once and is not mirrored: the mirror file holds the
    // stream without file contents.
    m_repository->m_importProcess.channel().write("blob\nmark :" + QByteArray::number(blobMark) + "\ndata "
                                    + QByteArray::number(length) + "\n");
    return static_cast<QIODevice *>(&m_repository->m_importProcess.channel());
}

void FastImportRepository::Transaction::recordMergeSource(const QString &sourceBranch,
                                                          int sourceRevision)
{
    const QString branchName = QString::fromUtf8(m_branch);
    if (sourceBranch == branchName) {
        qWarning() << "WARN: Cannot merge inside a branch";
        return;
    }

    QByteArray noDescription;
    const std::optional<int> sourceMark =
            m_repository->markForRevision(sourceBranch, sourceRevision, noDescription);
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
    qWarning() << (QStringLiteral("WARN: repository ") + m_repository->m_repositoryName
                   + QStringLiteral(" branch ") + branchName
                   + QStringLiteral(" has some files copied from ") + source);
    if (m_mergeMarks.contains(mark)) {
        qDebug() << "merge point already recorded";
        return;
    }
    m_mergeMarks.append(mark);
    qDebug() << "adding" << source << ":" << mark << "as a merge point";
}

// One branch name that is a directory prefix of another cannot exist in git
// beside it.
Status FastImportRepository::Transaction::checkBranchCollision() const
{
    // In name order: the same run names the same branch.
    const std::optional<QString> name =
            m_repository->m_branches.collidingBranch(QString::fromUtf8(m_branch));
    if (name)
        return Failure() << "Branch" << QString::fromUtf8(m_branch)
                         << "conflicts with already existing branch" << *name;
    return Status();
}

Result<QByteArray> FastImportRepository::Transaction::commitMessage(
        const QByteArray &mergeMetadata) const
{
    return m_repository->m_messageFilter.filter(messageWithMetadata(
            m_message, m_repository->m_options.addMetadata
                    ? formatMetadata(m_svnPrefix, m_revision) + mergeMetadata
                    : QByteArray()));
}

// Records the commit in the branch's state and returns the mark of its parent,
// 0 when the commit starts (or restarts) the branch.
int FastImportRepository::Transaction::chooseParent(int commitMark)
{
    const QString branchName = QString::fromUtf8(m_branch);
    const int parentMark = m_repository->m_branches.commitParent(branchName);
    if (parentMark == 0 && m_revision > 1 && branchName != m_repository->m_defaultBranch)
        qWarning() << "WARN: Branch" << branchName << "in repository"
                   << m_repository->m_repositoryName << "doesn't exist at revision" << m_revision
                   << "-- did you resume from the wrong revision?";
    m_repository->m_branches.recordCommit(branchName, m_revision, commitMark);
    return parentMark;
}

// Writes the merge lines and returns the marks for the progress comment.
QList<int> FastImportRepository::Transaction::writeMergeParents(int parentMark)
{
    LoggingQProcess &process = m_repository->m_importProcess.channel();

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

void FastImportRepository::Transaction::writeDeletions()
{
    LoggingQProcess &process = m_repository->m_importProcess.channel();
    if (m_removedPaths.contains(QString())) {
        process.writeMirrored("deleteall\n");
        return;
    }
    for (const QString &path : std::as_const(m_removedPaths))
        process.writeMirrored("D " + FastImportStream::pathFor(path) + "\n");
}

// A process that failed has reported why where it failed, through the
// options' failure reporter.
Status FastImportRepository::Transaction::writeCommit()
{
    if (Status collision = checkBranchCollision(); !collision)
        return collision;

    if (Status running = m_repository->m_importProcess.ensureRunning(); !running)
        return running;
    const quint64 commitMark = m_repository->takeCommitMark();
    const QString branchName = QString::fromUtf8(m_branch);
    MergeInfoParents fromMergeInfo;
    if (m_parentsFromMergeInfo) {
        fromMergeInfo = mergeInfoParents(m_repository->m_branches.commitParent(branchName));
        m_mergeMarks = fromMergeInfo.parents;
    }
    const Result<QByteArray> filtered = commitMessage(fromMergeInfo.metadata);
    if (!filtered)
        return filtered.failure();
    const QByteArray &text = filtered.value();
    const int parentMark = chooseParent(int(commitMark));

    // No "from" line: the parent is what the branch ref points to inside the
    // process, set by earlier commits, resets and the announcements.
    LoggingQProcess &process = m_repository->m_importProcess.channel();
    process.writeMirrored("commit " + refFor(m_branch) + "\nmark :"
                          + QByteArray::number(commitMark) + "\ncommitter " + m_committer + " "
                          + QByteArray::number(m_commitTime) + " +0000\ndata "
                          + QByteArray::number(text.size()) + "\n" + text + "\n");

    const QList<int> mergeParents = writeMergeParents(parentMark);
    QByteArray mergeDescription;
    for (int mark : mergeParents)
        mergeDescription += " :" + QByteArray::number(mark);
    if (m_repository->m_options.svnMergeinfo)
        m_repository->m_ancestry.record(commitMark, m_revision, quint64(parentMark),
                                    QList<quint64>(mergeParents.cbegin(), mergeParents.cend()));
    writeDeletions();
    process.writeMirrored(m_fileCommands);

    QByteArray progress = "\nprogress SVN r" + QByteArray::number(m_revision) + " branch " + m_branch
                          + " = :" + QByteArray::number(commitMark);
    if (!mergeDescription.isEmpty())
        progress += " # merge from" + mergeDescription;
    process.writeMirrored(progress + "\n\n");

    printf(" %d modifications from SVN %s to %s/%s",
           int(m_removedPaths.size() + m_fileCommands.count('\n')), m_svnPrefix.constData(),
           qPrintable(m_repository->m_repositoryName), m_branch.constData());
    fflush(stdout);

    if (m_repository->m_options.addMetadataNotes)
        writeNote(formatMetadata(m_svnPrefix, m_revision) + fromMergeInfo.metadata, false);

    // A process that died takes the commits it was sent with it: the
    // revision fails rather than report them done. The commit itself may
    // wait in the stream's last chunk: a run that dies with it unsent has
    // no progress line for it in the log, so the next run converts it again.
    return m_repository->m_importProcess.passOn();
}

bool FastImportRepository::Transaction::writeNote(const QByteArray &noteText, bool append,
                                                  const QByteArray &commit)
{
    const QByteArray ref = refFor(m_branch);
    const QByteArray target = commit.isEmpty() ? ref : commit;
    QByteArray commitText = "Adding Git note for current " + target + "\n";

    QByteArray text = noteText;
    if (!text.endsWith('\n'))
        text += '\n';

    const QString branchName = QString::fromUtf8(m_branch);
    QByteArray existingNote = m_repository->noteForBranch(branchName);
    if (!existingNote.isEmpty() && !existingNote.endsWith('\n'))
        existingNote += '\n';

    if (append && commit.isEmpty() && m_repository->hasBranch(branchName)
        && !existingNote.isEmpty()) {
        const qsizetype found = existingNote.indexOf(text);
        if (found == 0 || (found > 0 && existingNote.at(found - 1) == '\n'))
            return false;
        text = existingNote + text;
        commitText = "Appending Git note for current " + target + "\n";
    }

    const QByteArray block = "commit refs/notes/commits\nmark :"
                             + QByteArray::number(notesCommitMark) + "\ncommitter " + m_committer
                             + " " + QByteArray::number(m_commitTime) + " +0000\ndata "
                             + QByteArray::number(commitText.size()) + "\n" + commitText
                             + "\nN inline " + target + "\ndata " + QByteArray::number(text.size())
                             + "\n" + text + "\n";

    m_repository->ensureImportRunning();
    m_repository->m_importProcess.channel().writeMirrored(block);

    if (commit.isEmpty())
        m_repository->setNoteForBranch(branchName, text);
    return true;
}
