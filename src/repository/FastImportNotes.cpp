// The branch notes of FastImportRepository: the note of each branch head,
// kept between runs so that tags can append their metadata to it.
#include "repository/FastImportRepository.h"

#include "repository/GitObjectReader.h"
#include "repository/PersistedTable.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>

void FastImportRepository::loadBranchNotes()
{
    const QString fileName = RepositoryFileNames::branchNotesFilePath(m_repositoryName, m_options.createDump);
    const PersistedTable::LoadResult result = PersistedTable::load(fileName, m_branchNotes);
    if (result == PersistedTable::LoadResult::Damaged)
        qWarning() << "WARN:" << m_repositoryName << "the branch notes file" << fileName
                   << "is damaged: taking the notes from git";
    if (result == PersistedTable::LoadResult::Damaged
        || m_options.addMetadataNotes)
        takeBranchNotesFromGit();
}

// A tag's metadata is appended to the note of its branch's head. The table
// saved by the last run can be behind git (the run died before saving it) or
// ahead of it (its fast-import failed after the notes were sent); appending
// to either would lose a note. git has the note of every branch head that the
// log knows: an entry is kept only where git's note begins with it (as when a
// tag of the same commit appended to it), and taken from git otherwise.
void FastImportRepository::takeBranchNotesFromGit()
{
    const QHash<quint64, QByteArray> objects = marksFileObjects();
    const QHash<QByteArray, QByteArray> notes = notesInGit(objects);
    if (notes.isEmpty() && m_branchNotes.isEmpty())
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
        const QByteArray saved = m_branchNotes.value(it.key());
        if (!saved.isEmpty() && inGit.startsWith(saved))
            continue;
        if (inGit.isEmpty())
            m_branchNotes.remove(it.key());
        else
            m_branchNotes.insert(it.key(), inGit);
    }
}

Status FastImportRepository::storeBranchNotes()
{
    if (m_branchNotes.isEmpty())
        return Status();
    const QString fileName = RepositoryFileNames::branchNotesFilePath(m_repositoryName, m_options.createDump);
    if (Status stored = PersistedTable::store(fileName, m_branchNotes); !stored && !m_options.dryRun)
        return stored.failure().within(Failure() << "Cannot save the branch notes of repository"
                                                 << m_repositoryName);
    return Status();
}
