// What SvnTreeRouter keeps of the directories it has read: each entry in a
// few dozen bytes, and the git names of whole directories.

#include "verify/SvnTreeRouter.h"

#include <cstring>

TreeEntry SvnTreeRouter::Child::entry() const
{
    TreeEntry entry;
    entry.mode = mode;
    const QByteArray name = named ? QByteArray(id.data(), int(id.size())) : QByteArray();
    if (!entry.isTree())
        entry.blobId = name;
    else if (extra && extra->tree)
        entry.tree = extra->tree;
    else
        entry.tree = TreeNode::opaque(name);
    return entry;
}

void SvnTreeRouter::Child::setEntry(const TreeEntry &entry, bool keepTree)
{
    mode = entry.mode;
    const QByteArray name = entry.isTree() ? (entry.tree ? entry.tree->treeId() : QByteArray())
                                           : entry.blobId;
    named = name.size() == int(id.size());
    if (named)
        std::memcpy(id.data(), name.constData(), id.size());
    if (keepTree && entry.isTree() && entry.tree) {
        auto more = std::make_shared<ChildExtra>(extra ? *extra : ChildExtra());
        more->tree = entry.tree;
        extra = more;
    }
}

const SvnTreeRouter::Fragments &SvnTreeRouter::Child::elsewhere() const
{
    static const Fragments none;
    return extra ? extra->elsewhere : none;
}

void SvnTreeRouter::rememberTreeName(const TreeNameKey &key, const QByteArray &treeId)
{
    TreeName name;
    name.named = treeId.size() == int(name.id.size());
    if (name.named)
        std::memcpy(name.id.data(), treeId.constData(), name.id.size());
    m_treeNames.insert(key, name);
}
