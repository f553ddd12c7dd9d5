#include "repository/BranchUpdates.h"

#include "repository/BranchNotes.h"
#include "repository/BranchTable.h"
#include "repository/ConversionLogLine.h"
#include "repository/FastImportProcess.h"
#include "repository/FastImportStream.h"
#include "repository/GitNames.h"

#include <QDebug>

#include <algorithm>

using GitNames::refFor;

namespace {

const QByteArray deletedObject(40, '0');

} // namespace

BranchUpdates::BranchUpdates(const QString &repositoryName, const RepositoryOptions &options,
                             BranchTable &branches, FastImportProcess &process, BranchNotes &notes)
    : m_repositoryName(repositoryName), m_options(options), m_branches(branches),
      m_process(process), m_notes(notes)
{
}

Status BranchUpdates::makeBranch(const QString &branch, int revision,
                                        const QString &sourceBranch, int sourceRevision,
                                        bool sourceHoldsFiles)
{
    if (FastImportStream::containsLineFeed(branch)
        || FastImportStream::containsLineFeed(sourceBranch)) {
        return Failure() << "Branch" << branch << "in repository" << m_repositoryName
                         << "cannot be made from" << sourceBranch
                         << ": a branch name must not contain a line feed";
    }

    QByteArray description = "from branch " + sourceBranch.toUtf8();
    const std::optional<int> sourceMark =
            m_branches.markForRevision(sourceBranch, sourceRevision, description);
    // Without a source commit the files Subversion copied are nowhere in git:
    // going on would lose them.
    if (!sourceMark && sourceHoldsFiles) {
        return Failure() << branch << "in repository" << m_repositoryName
                         << "is branching from branch" << sourceBranch
                         << "but the latter doesn't exist. Can't continue.";
    }
    int mark = sourceMark.value_or(0);
    if (mark == 0 && sourceHoldsFiles) {
        return Failure() << branch << "in repository" << m_repositoryName
                         << "is branching from branch" << sourceBranch << "at revision"
                         << sourceRevision
                         << "but the latter has no commit then, while Subversion holds files there."
                         << "Can't continue.";
    }

    QByteArray resetFrom = ":" + QByteArray::number(mark);
    if (mark == 0) {
        // A copy of a tree without files: the branch starts with no parent
        // and no files, and its first commit is a root commit. The all-zero
        // reset clears whatever the ref held before.
        qWarning() << "WARN:" << branch << "in repository" << m_repositoryName
                   << "is branching but no exported commits exist in repository"
                   << "creating an empty branch.";
        resetFrom = deletedObject;
        description += ", deleted/unknown";
        mark = 0;
    }

    qDebug() << "Creating branch:" << branch << "from" << sourceBranch << "(" << sourceRevision
             << description << ")";

    m_notes.copyNote(branch, sourceBranch);
    queueBranchReset(branch, revision, mark, resetFrom, description);
    return Status();
}

Status BranchUpdates::dropBranch(const QString &branch, int revision)
{
    if (FastImportStream::containsLineFeed(branch)) {
        return Failure() << "Branch" << branch << "in repository" << m_repositoryName
                         << "cannot be deleted: a branch name must not contain a line feed";
    }
    queueBranchReset(branch, revision, 0, deletedObject, "delete");
    return Status();
}

void BranchUpdates::queueBranchReset(const QString &branch, int revision, int mark,
                                            const QByteArray &resetFrom,
                                            const QByteArray &comment)
{
    // A process started later would be told the heads as changed here, and
    // the backup below would save the new head instead of the old one.
    m_process.ensureRunning().ok();
    m_pendingUpdatesRevision = revision;

    const QByteArray ref = refFor(branch);
    const bool deleting = comment == "delete";
    const int createdRevision = m_branches.createdRevision(branch);

    // A branch with a live head from an earlier revision is saved before it
    // is deleted or moved, so that no history becomes unreachable.
    QByteArray backup;
    if (createdRevision != 0 && createdRevision != revision && m_branches.headMark(branch) > 0) {
        const QByteArray backupRef = BranchUpdates::backupRef(ref, revision, deleting);
        qWarning() << "WARN: backing up branch" << branch << "to" << backupRef;
        backup = "reset " + backupRef + "\nfrom " + ref + "\n\n";
    }

    if (deleting)
        m_branches.recordDeletion(branch, revision);
    else
        m_branches.recordReset(branch, revision, mark);

    const QByteArray command = "reset " + ref + "\nfrom " + resetFrom + "\n\n"
                               + ConversionLogLine::branchLine(revision, branch.toUtf8(),
                                                               mark, comment)
                               + "\n\n";

    if (deleting) {
        m_pendingDeletions += backup + command;
        m_deletedRefs.insert(QString::fromUtf8(ref));
    } else {
        m_pendingResets += backup + command;
        m_resetRefs.insert(QString::fromUtf8(ref));
    }
}

QByteArray BranchUpdates::backupRef(const QByteArray &ref, int revision, bool deleting)
{
    if (deleting && ref.startsWith("refs/heads/"))
        return "refs/tags/backups/" + ref.mid(11) + "@" + QByteArray::number(revision);
    return "refs/backups/r" + QByteArray::number(revision) + ref.mid(4);
}

QStringList BranchUpdates::deletedRefs() const
{
    QStringList refs;
    for (const QString &ref : m_deletedRefs) {
        if (!m_resetRefs.contains(ref))
            refs.append(ref);
    }
    std::sort(refs.begin(), refs.end());
    return refs;
}

bool BranchUpdates::send()
{
    if (!arePending())
        return false;
    m_process.ensureRunning().ok();
    // Deletions first: a branch deleted and made again in one revision ends up made.
    m_process.channel().writeMirrored(m_pendingDeletions);
    m_process.channel().writeMirrored(m_pendingResets);
    m_pendingDeletions.clear();
    m_pendingResets.clear();

    m_deletedRefs.clear();
    m_resetRefs.clear();
    return true;
}

void BranchUpdates::announceBranches()
{
    bool announcedAny = false;
    for (const QString &branch : m_branches.sortedNames()) {
        const int head = m_branches.headMark(branch);
        if (head <= 0)
            continue;
        const QByteArray ref = refFor(branch);
        m_process.ensureRunning().ok();
        m_process.channel().writeMirrored("reset " + ref + "\nfrom :"
                                    + QByteArray::number(head)
                                    + "\n\nprogress Branch " + ref + " reloaded\n");
        announcedAny = true;
    }

    // The notes commits have no parent line: a process that is not told the
    // last one would start a new notes history and lose every older note,
    // also when no branch is live (all deleted in the last revision).
    // Without marks (dump and dry run) the notes commit of an earlier part of
    // the stream is assumed where branches are.
    const bool withoutMarks = m_options.writesToFile();
    if (m_options.addMetadataNotes
        && (withoutMarks ? announcedAny : m_notes.commitIsKnown())) {
        m_process.ensureRunning().ok();
        m_process.channel().writeMirrored("reset refs/notes/commits\nfrom :"
                                    + QByteArray::number(BranchNotes::commitMark) + "\n");
    }
}
