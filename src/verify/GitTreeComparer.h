#pragma once

#include "verify/Difference.h"
#include "verify/ExpectedTree.h"

#include <QByteArray>
#include <QList>

class GitObjectReader;

// Finds the paths at which a git tree differs from an expected tree. Only
// subtrees whose names differ are read, so a small difference costs a few
// tree reads whatever the size of the branch.
class GitTreeComparer
{
public:
    explicit GitTreeComparer(const GitObjectReader &reader);

    // Differences between expected and the git tree gitTree (20 raw bytes,
    // empty for no tree), paths relative to the branch root; filled in
    // template's revision, repository and branch.
    void compare(const TreeNodePointer &expected, const QByteArray &gitTree,
                 const Difference &templateDifference, QList<Difference> *out) const;

private:
    struct GitEntry
    {
        int mode = 0;
        QByteArray id;
    };
    QMap<QByteArray, GitEntry> readTree(const QByteArray &tree) const;
    void compareAt(const TreeNodePointer &expected, const QByteArray &gitTree,
                   const QByteArray &path, const Difference &templateDifference,
                   QList<Difference> *out) const;
    void listAll(const TreeNodePointer &expected, const QByteArray &gitTree,
                 const QByteArray &path, const QString &kind,
                 const Difference &templateDifference, QList<Difference> *out) const;

    const GitObjectReader &m_reader;
};
