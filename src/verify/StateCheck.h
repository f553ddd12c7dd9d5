#pragma once

#include "common/Failure.h"
#include "repository/GitObjectReader.h"
#include "verify/Difference.h"
#include "verify/ExpectedTree.h"
#include "verify/NoteReader.h"
#include "verify/RecordedStates.h"
#include "verify/RefCheck.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QVector>

#include <memory>
#include <vector>

class BranchTrees;
class MetadataCheck;

// Compares recorded branch states, in revision order, with what Subversion
// holds at their revision: the tree of each state's commit, and the
// metadata of each commit the state made. The commits of a group of states
// are read from git at once.
class StateCheck
{
public:
    // metadata null: commit metadata is not compared.
    StateCheck(const QStringList &repositories, BranchTrees &branchTrees,
               MetadataCheck *metadata);

    // Reads the commits of the states of group.
    void readCommits(const QList<RecordedStates::Item> &group,
                     const std::vector<std::unique_ptr<ConversionLog>> &logs);
    // A state before the states checked: the commits made up to it are
    // known as made before.
    void passOver(const RecordedStates::Item &item);
    // Checks the state at index of the group read last; branchTrees is at
    // its revision. Fails when Subversion cannot be read or the message
    // filter fails.
    Status check(int index, QList<Difference> *out);
    // With --empty-dirs: the converter's placeholder in a directory that a
    // rule matched is taken as no difference.
    void setEmptyDirs(bool emptyDirs) { m_emptyDirs = emptyDirs; }

private:
    Status checkCommit(const RecordedStates::Item &item, const Difference &where,
                       const QByteArray &commit, QList<Difference> *out);
    Status compareTree(const TreeNodePointer &expected, const QByteArray &gitTree,
                       const GitObjectReader &reader, const Difference &where,
                       QList<Difference> *out);

    bool withoutMatchedPlaceholders(const QByteArray &gitTree, const GitObjectReader &reader,
                                    const Difference &where, QByteArray *stripped) const;
    static bool withoutPlaceholder(const QByteArray &tree, const GitObjectReader &reader,
                                   const QList<QByteArray> &path, QByteArray *stripped);

    QStringList m_repositories;
    bool m_emptyDirs = false;
    BranchTrees &m_branchTrees;
    MetadataCheck *m_metadata;
    QList<GitObjectReader> m_readers;
    QList<NoteReader> m_noteReaders;
    std::vector<RefCheck> m_refs;
    QVector<quint64> m_highestMarks; // per repository, of the states passed
    QList<RecordedStates::Item> m_group;
    QList<QByteArray> m_commits; // of the states of the group
    QHash<QByteArray, QByteArray> m_contents; // commit to its object
    QHash<QByteArray, QByteArray> m_notes; // commit to its note, with --add-metadata-notes
};
