#pragma once

#include "common/Failure.h"
#include "survey/AttributeSurvey.h"
#include "survey/MergeSurvey.h"
#include "svn/ChangedPathsReader.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// What one pass over a Subversion history tells about its layout, its
// authors and the places that need a decision before a conversion.
class HistorySurvey
{
public:
    enum class BranchKind { Trunk, Branch, Tag, Other };

    // A trunk, a directory under branches or tags, or a directory copied
    // from another one anywhere else: each a branch or tag candidate.
    struct BranchCandidate
    {
        QString path;       // without a trailing "/"
        QString project;    // the directory holding trunk, branches and tags; "" at the top
        BranchKind kind = BranchKind::Other;
        QString name;       // the branch or tag name under its container
        QList<int> createdRevisions;
        int lastChangedRevision = -1;
        int deletedRevision = -1; // the last deletion; -1 while it exists
        QList<int> deletedRevisions;
        QString sourcePath;       // of the latest creation by copy; empty when made without
        int sourceRevision = -1;
        // Other candidates: made by copying a branch or tag root, so a
        // branch of the source's project; or holding such copies.
        bool branchCopy = false;
        bool holdsBranches = false;
        bool holdsFiles = false; // a file was added or changed below it

        bool existsAt(int revision) const;
    };

    struct Author
    {
        int revisions = 0;
        int firstRevision = -1;
        int lastRevision = -1;
    };

    struct PathAtRevision
    {
        QString path;
        int revision = -1;
        QString source;       // copies: the source path
        int sourceRevision = -1;
        qint64 size = 0;      // files: the length in bytes
    };

    // A list that keeps its first examples and counts the rest.
    struct Examples
    {
        QList<PathAtRevision> items;
        int total = 0;
        void add(const PathAtRevision &item);
    };

    static constexpr int largestFileCount = 10;

    // Reads every revision of the reader's repository once; progress shows
    // on standard error when it is a terminal.
    Status run(ChangedPathsReader &reader);

    int latestRevision() const { return m_latestRevision; }
    // Project directory -> which of "trunk", "branches" and "tags" it holds.
    const QMap<QString, QStringList> &projects() const { return m_projects; }
    const QMap<QString, BranchCandidate> &candidates() const { return m_candidates; }
    const QMap<QByteArray, Author> &authors() const { return m_authors; }
    // Directories under branches or tags that are no copy but hold copies:
    // their entries are the branches (branches/releases/1.0 gives the
    // branch releases/1.0).
    const QSet<QString> &nestedContainers() const { return m_nestedContainers; }
    bool hasLayout() const { return !m_projects.isEmpty(); }
    // Candidates of the standard layout whose name git refuses as a ref.
    QList<BranchCandidate> refusedNames() const;
    const Examples &externals() const { return m_externals; }
    const Examples &mergeinfo() const { return m_mergeinfo; }
    const MergeSurvey &merges() const { return m_merges; }
    const AttributeSurvey &attributes() const { return m_attributes; }
    const QList<PathAtRevision> &largestFiles() const { return m_largestFiles; }
    const Examples &copiesFromOutside() const { return m_copiesFromOutside; }

    // The ref a candidate of the standard layout becomes: the branch name,
    // or "refs/tags/" and the tag name.
    static QString refNameOf(const BranchCandidate &candidate);
    static QString kindName(BranchKind kind);

private:
    struct Placement
    {
        QString project;
        QString container; // "trunk", "branches", "tags"; empty outside the layout
        QString root;      // the branch root holding the path; empty when none
        QString name;
    };
    Placement placementOf(const QString &path) const;

    void countAuthor(const QByteArray &author, int revision);
    void recordChange(ChangedPathsReader &reader, int revision,
                      const ChangedPathsReader::ChangedPath &change);
    BranchCandidate &candidateFor(const QString &path, const Placement &placement);
    // Notes the branches, tags and projects a change makes; returns where
    // the path lies.
    Placement recordLayout(const QString &path, int revision,
                           const ChangedPathsReader::ChangedPath &change);
    void noteContainer(const Placement &placement);
    // The branch or tag root at path that existed at revision, or null.
    const BranchCandidate *branchAt(const QString &path, int revision) const;
    bool insideBranchCopy(const QString &path) const;
    bool becomesNestedContainer(const QString &path, const Placement &placement,
                                const ChangedPathsReader::ChangedPath &change);
    void copyBranchesBelow(const QString &path, int revision, const QString &source,
                           int sourceRevision);
    void markDeletedBelow(const QString &directory, int revision);
    void markChanged(const QString &path, int revision, bool file);
    void recordFileSize(const QString &path, int revision, qint64 size);

    int m_latestRevision = 0;
    QMap<QString, QStringList> m_projects;
    QMap<QString, BranchCandidate> m_candidates;
    QSet<QString> m_nestedContainers;
    QMap<QByteArray, Author> m_authors;
    Examples m_externals;
    Examples m_mergeinfo;
    MergeSurvey m_merges;
    AttributeSurvey m_attributes;
    QList<PathAtRevision> m_largestFiles;
    Examples m_copiesFromOutside;
};
