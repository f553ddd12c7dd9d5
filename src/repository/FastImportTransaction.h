#pragma once

#include "repository/MergeInfoChange.h"
#include "repository/Repository.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class CommitStream;

// The commit being built for one branch of a fast-import repository in one
// revision, with its note.
class FastImportTransaction : public Repository::Transaction
{
public:
    FastImportTransaction(CommitStream &stream, const QString &branch, const QString &svnPrefix,
                          int revision);
    ~FastImportTransaction() override;

    Status writeCommit() override;
    void setCommitter(const QByteArray &identity) override;
    void setCommitTime(uint seconds) override;
    void setMessage(const QByteArray &message) override;
    void recordMergeSource(const QString &sourceBranch, int sourceRevision) override;
    void recordMergeInfoChange(const MergeInfoChange &change) override;
    void removePath(const QString &path) override;
    Result<QIODevice *> openFile(const QString &path, int mode, qint64 length) override;
    bool writeNote(const QByteArray &noteText, bool append,
                   const QByteArray &commit = QByteArray()) override;

private:
    // What the branch's mergeinfo gives: the merge parents, and a metadata
    // line for each merge that made none.
    struct MergeInfoParents
    {
        QList<int> parents;
        QByteArray metadata;
    };

    Status checkBranchCollision() const;
    Result<QByteArray> commitMessage(const QByteArray &mergeMetadata) const;
    MergeInfoParents mergeInfoParents(int head) const;
    int chooseParent(int commitMark);
    QList<int> writeMergeParents(int parentMark);
    void writeDeletions();

    CommitStream &m_stream;
    QByteArray m_branch;
    QByteArray m_svnPrefix;
    QByteArray m_committer;
    QByteArray m_message;
    uint m_commitTime = 0;
    int m_revision;
    QList<int> m_mergeMarks;
    // Set when the branch's mergeinfo changed: it alone gives the merge parents.
    bool m_parentsFromMergeInfo = false;
    MergeInfoChange m_mergeInfo;
    QStringList m_removedPaths;
    QByteArray m_fileCommands;
};
