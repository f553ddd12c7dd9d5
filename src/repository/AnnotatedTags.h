#pragma once

#include "common/Failure.h"
#include "repository/AnnotatedTag.h"
#include "repository/RepositoryOptions.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

class BranchNotes;
class BranchTable;
class CommitStream;
class FastImportProcess;

// The annotated tags of one fast-import repository: recorded as the history
// goes, kept in a file with a journal of the changes of each revision, taken
// back from git when the file is damaged, and written at the end of the run.
class AnnotatedTags
{
public:
    AnnotatedTags(const QString &repositoryName, const RepositoryOptions &options,
                  const BranchTable &branches, FastImportProcess &process, BranchNotes &notes,
                  CommitStream &commits);

    void record(const QString &branch, const QString &svnPrefix, int revision,
                const QByteArray &author, uint epoch, const QByteArray &logMessage);
    // Reads the tags the last runs kept; resumeRevision (0: none) is the
    // revision from which the history is converted again.
    void load(int resumeRevision);
    // A deleted ref takes the tag recorded from it with it; returns the
    // commands that delete the refs of their tag objects.
    QByteArray removeTagsOfDeletedRefs(const QStringList &deletedRefs, int revision);
    // Writes the tag changes of the revision into the journal.
    Status journalChanges();
    // Saves the tags and sends them to the process; updatesPending tells
    // that the branch updates of the last revision never reached it.
    Status write(bool updatesPending);

private:
    void recoverFromGit();
    void dropTagsBeyondTheLog(int resumeRevision);
    Status save();
    void writeInNameOrder(bool updatesPending);
    void writeTag(const QString &name, const AnnotatedTag &tag);
    QString tagsFileName() const;
    QString journalFileName() const;

    const QString m_repositoryName;
    const RepositoryOptions &m_options;
    const BranchTable &m_branches;
    FastImportProcess &m_process;
    BranchNotes &m_notes;
    CommitStream &m_commits;
    QHash<QString, AnnotatedTag> m_tags;
    // Tags recorded or removed since the journal was last written, and the
    // revision that changed them.
    QSet<QString> m_changedTags;
    int m_tagChangeRevision = 0;
};
