#include "verify/ExpectedTree.h"

#include <QCryptographicHash>
#include <QList>

#include <algorithm>
#include <cstring>
#include <vector>

TreeNodePointer TreeNode::opaque(const QByteArray &treeId)
{
    auto node = std::make_shared<TreeNode>();
    node->m_hashed = true;
    node->m_treeId = treeId;
    node->m_opaque = true;
    return node;
}

namespace {

struct Item
{
    const QByteArray *name;
    bool tree;
    int mode;
    QByteArray id;
};

// Git orders tree entries by name, a subtree's name compared as if it ended in "/".
bool gitOrder(const Item &a, const Item &b)
{
    const qsizetype common = std::min(a.name->size(), b.name->size());
    const int compared = std::memcmp(a.name->constData(), b.name->constData(), size_t(common));
    if (compared != 0)
        return compared < 0;
    auto next = [common](const Item &item) {
        if (item.name->size() > common)
            return int(uchar(item.name->at(common)));
        return item.tree ? int('/') : -1;
    };
    return next(a) < next(b);
}

QByteArray modeText(int mode)
{
    switch (mode) {
    case 040000: return QByteArrayLiteral("40000");
    case 0100644: return QByteArrayLiteral("100644");
    case 0100755: return QByteArrayLiteral("100755");
    case 0120000: return QByteArrayLiteral("120000");
    default: return QByteArray::number(mode, 8);
    }
}

} // namespace

QByteArray TreeNode::treeId() const
{
    if (m_hashed)
        return m_treeId;
    m_hashed = true;
    std::vector<Item> items;
    items.reserve(size_t(entries.size()));
    bool trees = false;
    qsizetype size = 0;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const bool tree = it.value().isTree();
        const QByteArray id = !tree ? it.value().blobId
                : it.value().tree   ? it.value().tree->treeId()
                                    : QByteArray();
        if (tree && id.isEmpty())
            continue;
        trees = trees || tree;
        items.push_back({&it.key(), tree, it.value().mode, id});
        size += it.key().size() + 28;
    }
    if (items.empty())
        return m_treeId;
    // The map orders by name alone, which is git's order unless there are subtrees.
    if (trees)
        std::sort(items.begin(), items.end(), gitOrder);
    QByteArray body;
    body.reserve(size);
    for (const Item &item : items) {
        body += modeText(item.mode);
        body += ' ';
        body += *item.name;
        body += '\0';
        body += item.id;
    }
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
