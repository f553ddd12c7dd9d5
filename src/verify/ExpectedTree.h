#pragma once

#include <QByteArray>
#include <QMap>

#include <memory>

struct TreeNode;
using TreeNodePointer = std::shared_ptr<const TreeNode>;

// One entry of a git tree as the conversion should have written it: a blob
// with its mode, or a subtree.
struct TreeEntry
{
    int mode = 0; // 0100644, 0100755 or 0120000 for blobs; 040000 for trees
    QByteArray blobId; // 20 raw bytes, for blobs
    TreeNodePointer tree;

    bool isTree() const { return mode == 040000; }
};

// A directory of an expected branch tree. Nodes are shared between the
// states of a branch (and between branches) as long as Subversion says the
// directory did not change, so each is hashed once.
struct TreeNode
{
    QMap<QByteArray, TreeEntry> entries;

    // The git tree object name (20 raw bytes); empty for a tree without any
    // blob below it, which git does not store.
    QByteArray treeId() const;

private:
    mutable bool m_hashed = false;
    mutable QByteArray m_treeId;
};

namespace ExpectedTree {

// The tree with entry put at path (components split on "/"), nodes on the way
// copied, the others shared. An existing tree at the place is merged with a new one.
TreeNodePointer withEntry(const TreeNodePointer &root, const QByteArray &path,
                          const TreeEntry &entry);

// The git name (20 raw bytes) of a blob with these contents.
QByteArray blobIdOf(const QByteArray &contents);

} // namespace ExpectedTree
