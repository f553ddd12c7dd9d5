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

// A directory of an expected branch tree: either with its entries, or known
// only by its git name (an opaque node), which is all a comparison of equal
// trees needs and keeps a branch's tree a few bytes however large it is.
struct TreeNode
{
    QMap<QByteArray, TreeEntry> entries;

    // A node standing for the tree of this git name, its entries not held.
    static TreeNodePointer opaque(const QByteArray &treeId);

    // The git tree object name (20 raw bytes); empty for a tree without any
    // blob below it, which git does not store.
    QByteArray treeId() const;
    // Whether the entries are not held although there are some.
    bool isOpaque() const { return m_opaque && !m_treeId.isEmpty(); }

private:
    mutable bool m_hashed = false;
    mutable QByteArray m_treeId;
    bool m_opaque = false;
};

namespace ExpectedTree {

// The tree with entry put at path (components split on "/"), nodes on the way
// copied, the others shared. An existing tree at the place is merged with a
// new one. Sets *complete to false when that needs the entries of an opaque
// node; the result is then of no use.
TreeNodePointer withEntry(const TreeNodePointer &root, const QByteArray &path,
                          const TreeEntry &entry, bool *complete);

// The git name (20 raw bytes) of a blob with these contents.
QByteArray blobIdOf(const QByteArray &contents);

} // namespace ExpectedTree
