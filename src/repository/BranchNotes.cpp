#include "repository/BranchNotes.h"

#include "repository/BranchTable.h"
#include "repository/GitObjectReader.h"
#include "repository/MarksFile.h"
#include "repository/PersistedTable.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QFile>

BranchNotes::BranchNotes(const QString &repositoryName, const RepositoryOptions &options,
                         const BranchTable &branches)
    : m_repositoryName(repositoryName), m_options(options), m_branches(branches)
{
}

void BranchNotes::setNoteFor(const QString &branch, const QByteArray &note)
{
    if (m_branches.contains(branch))
        m_notes[branch] = note;
}

void BranchNotes::copyNote(const QString &branch, const QString &sourceBranch)
{
    m_notes[branch] = m_notes.value(sourceBranch);
}

void BranchNotes::load()
{
    const QString fileName =
            RepositoryFileNames::branchNotesFilePath(m_repositoryName, m_options.createDump);
    const PersistedTable::LoadResult result = PersistedTable::load(fileName, m_notes);
    if (result == PersistedTable::LoadResult::Damaged)
        qWarning() << "WARN:" << m_repositoryName << "the branch notes file" << fileName
                   << "is damaged: taking the notes from git";
    if (result == PersistedTable::LoadResult::Damaged
        || m_options.addMetadataNotes)
        takeNotesFromGit();
}

// A tag's metadata is appended to the note of its branch's head. The table
// saved by the last run can be behind git (the run died before saving it) or
// ahead of it (its fast-import failed after the notes were sent); appending
// to either would lose a note. git has the note of every branch head that the
// log knows: an entry is kept only where git's note begins with it (as when a
// tag of the same commit appended to it), and taken from git otherwise.
void BranchNotes::takeNotesFromGit()
{
    const QHash<quint64, QByteArray> objects = marksFileObjects();
    const QHash<QByteArray, QByteArray> notes = notesInGit(objects);
    if (notes.isEmpty() && m_notes.isEmpty())
        return;
    const GitObjectReader git(m_repositoryName);

    QHash<QString, QByteArray> headNotes; // branch to note blob, empty for none
    for (const QString &branch : m_branches.sortedNames()) {
        const int head = m_branches.headMark(branch);
        if (head <= 0)
            continue;
        const QByteArray commit = objects.value(quint64(head));
        if (!commit.isEmpty())
            headNotes.insert(branch, notes.value(commit));
    }
    QList<QByteArray> blobs = headNotes.values();
    blobs.removeAll(QByteArray());
    const QHash<QByteArray, QByteArray> contents = git.blobContents(blobs);
    for (auto it = headNotes.constBegin(); it != headNotes.constEnd(); ++it) {
        const QByteArray inGit = contents.value(it.value());
        const QByteArray saved = m_notes.value(it.key());
        if (!saved.isEmpty() && inGit.startsWith(saved))
            continue;
        if (inGit.isEmpty())
            m_notes.remove(it.key());
        else
            m_notes.insert(it.key(), inGit);
    }
}

// A dry run has no repository to resume, so a file it cannot write is no
// failure there.
Status BranchNotes::store() const
{
    if (m_notes.isEmpty())
        return Status();
    const QString fileName =
            RepositoryFileNames::branchNotesFilePath(m_repositoryName, m_options.createDump);
    if (Status stored = PersistedTable::store(fileName, m_notes); !stored && !m_options.dryRun)
        return stored.failure().within(Failure() << "Cannot save the branch notes of repository"
                                                 << m_repositoryName);
    return Status();
}

QHash<QByteArray, QByteArray> BranchNotes::notesInGit(const QHash<quint64, QByteArray> &marks) const
{
    const QByteArray notesCommit = marks.value(commitMark);
    if (notesCommit.isEmpty())
        return QHash<QByteArray, QByteArray>();
    return GitObjectReader(m_repositoryName).notesOf(notesCommit);
}

bool BranchNotes::commitIsKnown() const
{
    return marksFileObjects().contains(commitMark);
}

QHash<quint64, QByteArray> BranchNotes::marksFileObjects() const
{
    QFile marksFile(RepositoryFileNames::marksFilePath(m_repositoryName));
    if (!marksFile.open(QIODevice::ReadOnly))
        return QHash<quint64, QByteArray>();
    return MarksFile::objects(marksFile);
}
