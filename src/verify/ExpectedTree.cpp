#include "verify/ExpectedTree.h"

#include <QCryptographicHash>
#include <QList>

#include <algorithm>

TreeNodePointer TreeNode::opaque(const QByteArray &treeId)
{
    auto node = std::make_shared<TreeNode>();
    node->m_hashed = true;
    node->m_treeId = treeId;
    node->m_opaque = true;
    return node;
}

QByteArray TreeNode::treeId() const
{
    if (m_hashed)
        return m_treeId;
    m_hashed = true;
    // Git orders tree entries by name, a subtree's name compared as if it
    // ended in "/".
    struct Item
    {
        QByteArray sortKey;
        QByteArray name;
        QByteArray mode;
        QByteArray id;
    };
    QList<Item> items;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (it.value().isTree()) {
            const QByteArray id = it.value().tree ? it.value().tree->treeId() : QByteArray();
            if (id.isEmpty())
                continue;
            items.append({it.key() + '/', it.key(), "40000", id});
        } else {
            items.append({it.key(), it.key(), QByteArray::number(it.value().mode, 8),
                          it.value().blobId});
        }
    }
    if (items.isEmpty())
        return m_treeId;
    std::sort(items.begin(), items.end(),
              [](const Item &a, const Item &b) { return a.sortKey < b.sortKey; });
    QByteArray body;
    for (const Item &item : std::as_const(items))
        body += item.mode + ' ' + item.name + '\0' + item.id;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData("tree " + QByteArray::number(body.size()) + '\0');
    hash.addData(body);
    m_treeId = hash.result();
    return m_treeId;
}

namespace ExpectedTree {

namespace {

// Whether node adds nothing to a merge. An opaque node without a name has no
// blob below it, so git sees nothing of it either.
bool isBare(const TreeNodePointer &node)
{
    return !node || (node->entries.isEmpty() && !node->isOpaque());
}

TreeNodePointer merged(const TreeNodePointer &base, const TreeNodePointer &addition,
                       bool *complete)
{
    if (isBare(base))
        return addition;
    if (base->isOpaque() || (addition && addition->isOpaque())) {
        *complete = false;
        return base;
    }
    auto node = std::make_shared<TreeNode>();
    node->entries = base->entries;
    for (auto it = addition->entries.cbegin(); it != addition->entries.cend(); ++it) {
        TreeEntry &existing = node->entries[it.key()];
        if (existing.isTree() && it.value().isTree())
            existing.tree = merged(existing.tree, it.value().tree, complete);
        else
            existing = it.value();
    }
    return node;
}

TreeNodePointer withEntryAt(const TreeNodePointer &root, const QList<QByteArray> &components,
                            int index, const TreeEntry &entry, bool *complete)
{
    if (index == components.size())
        return entry.isTree() ? merged(root, entry.tree, complete) : root;
    if (root && root->isOpaque()) {
        *complete = false;
        return root;
    }
    auto node = std::make_shared<TreeNode>();
    if (root)
        node->entries = root->entries;
    const QByteArray &name = components.at(index);
    if (index + 1 == components.size() && !entry.isTree()) {
        node->entries.insert(name, entry);
        return node;
    }
    TreeEntry &child = node->entries[name];
    const TreeNodePointer below = child.isTree() ? child.tree : TreeNodePointer();
    child.mode = 040000;
    child.blobId.clear();
    child.tree = withEntryAt(below, components, index + 1, entry, complete);
    return node;
}

} // namespace

TreeNodePointer withEntry(const TreeNodePointer &root, const QByteArray &path,
                          const TreeEntry &entry, bool *complete)
{
    QList<QByteArray> components;
    for (const QByteArray &part : path.split('/')) {
        if (!part.isEmpty())
            components.append(part);
    }
    return withEntryAt(root, components, 0, entry, complete);
}

QByteArray blobIdOf(const QByteArray &contents)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData("blob " + QByteArray::number(contents.size()) + '\0');
    hash.addData(contents);
    return hash.result();
}

} // namespace ExpectedTree
