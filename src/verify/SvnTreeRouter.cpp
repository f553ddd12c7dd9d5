#include "verify/SvnTreeRouter.h"

#include "svn/PathRouting.h"
#include "svn/DirectoryEntries.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <apr_hash.h>

namespace {

const int treeMode = 040000;

// The bound of the directory entries remembered (each about 150 bytes, twice
// over): reached within the first ten thousand revisions of a busy history,
// so that memory is flat from there on. Past it the least used directories
// are read again from Subversion, their unchanged subdirectories known by
// their git names below.
const qint64 rememberedDirectoryEntries = 15000;
// The directories whose git name alone is remembered, 2^16 of 48 bytes
// each: those of a few thousand live branches and tags.
const int rememberedTreeNamesLog2 = 16;

QString pathText(const QByteArray &path, bool directory)
{
    return QString::fromUtf8(directory ? path + '/' : path);
}

QByteArray unparsedId(const svn_fs_id_t *id, apr_pool_t *pool)
{
    const svn_string_t *text = svn_fs_unparse_id(id, pool);
    return QByteArray(text->data, int(text->len));
}

} // namespace

SvnTreeRouter::SvnTreeRouter(svn_fs_t *fs, const Settings &settings)
    : m_fs(fs)
    , m_settings(settings)
    , m_forwarding(settings.repositoryRules)
    , m_pool(nullptr)
    , m_directories(rememberedDirectoryEntries)
    , m_treeNames(rememberedTreeNamesLog2)
    , m_fileEntries(settings.svnAttributes)
{
}

Status SvnTreeRouter::setRevision(int revision, bool *rulesChanged)
{
    m_pool.clear();
    m_revision = revision;
    if (svn_error_t *error = svn_fs_revision_root(&m_root, m_fs, revision, m_pool))
        return svnFailure(error);

    QByteArray rulesInForce;
    for (const QList<MatchRule> &list : std::as_const(m_settings.matchRuleLists)) {
        for (const MatchRule &rule : list)
            rulesInForce += PathRouting::inForceAt(rule, revision) ? '1' : '0';
        rulesInForce += '|';
    }
    *rulesChanged = rulesInForce != m_rulesInForce;
    if (*rulesChanged) {
        m_rulesInForce = rulesInForce;
        m_directories.clear();
        m_treeNames.clear();
    }
    return Status();
}

const MatchRule *SvnTreeRouter::ruleFor(int listIndex, const QByteArray &path,
                                        bool directory) const
{
    return PathRouting::firstMatchingRule(m_settings.matchRuleLists.at(listIndex),
                                          pathText(path, directory), m_revision);
}

Status SvnTreeRouter::route(int listIndex, const QByteArray &path, bool directory, Fragments *out,
                            apr_pool_t *pool)
{
    if (path.isEmpty())
        return routeDirectory(listIndex, path, out, pool);
    return routeEntry(listIndex, path, directory, out, pool);
}

Status SvnTreeRouter::fullEntry(const Fragment &fragment, TreeEntry *entry, apr_pool_t *pool)
{
    *entry = fragment.entry;
    if (!entry->isTree())
        return Status();
    Subtree subtree;
    const SubtreeContext context{fragment.listIndex, fragment.rule, fragment.svnPrefix, true};
    if (Status done = buildSubtree(context, fragment.source, QByteArray(), &subtree, pool); !done)
        return done;
    entry->tree = subtree.node;
    return Status();
}

QByteArray SvnTreeRouter::nodeIdOf(const QByteArray &path, apr_pool_t *pool) const
{
    const svn_fs_id_t *id = nullptr;
    if (svn_error_t *error = svn_fs_node_id(&id, m_root, path.isEmpty() ? "/" : path.constData(),
                                            pool)) {
        svn_error_clear(error);
        return QByteArray();
    }
    return unparsedId(id, pool);
}

// Routes the entries of a directory that no rule exports as a whole (the
// root, a directory no rule matches, one with action recurse).
Status SvnTreeRouter::routeDirectory(int listIndex, const QByteArray &path, Fragments *out,
                                     apr_pool_t *pool)
{
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, m_root,
                                                path.isEmpty() ? "/" : path.constData(), pool))
        return svnFailure(error);
    const QMap<QByteArray, const svn_fs_dirent_t *> sorted = sortedEntries(entries, pool);
    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        entryPool.clear();
        const bool directory = it.value()->kind == svn_node_dir;
        if (Status done = routeEntry(listIndex, path + '/' + it.key(), directory, out, entryPool);
            !done)
            return done;
    }
    return Status();
}

Status SvnTreeRouter::routeEntry(int listIndex, const QByteArray &path, bool directory,
                                 Fragments *out, apr_pool_t *pool)
{
    const MatchRule *rule = ruleFor(listIndex, path, directory);
    if (rule && rule->action == RuleAction::Export)
        return exportEntry(listIndex, *rule, path, directory, out, pool);
    if (rule && rule->action == RuleAction::Ignore && !directory)
        return Status();
    // A directory that no rule takes, one to recurse into, or one that an
    // ignore rule matches (a catch-all "match /" matches "/branches/"): its
    // entries find their own rules, as the converter's changed paths below it
    // do. A file no rule takes is in no branch.
    if (directory)
        return routeDirectory(listIndex, path, out, pool);
    return Status();
}

Status SvnTreeRouter::exportEntry(int listIndex, const MatchRule &rule, const QByteArray &path,
                                  bool directory, Fragments *out, apr_pool_t *pool)
{
    const QString text = pathText(path, directory);
    rule.pattern.indexIn(text);
    const RuleTarget target = PathRouting::ruleTarget(
            rule, text, rule.pattern.matchedLength(),
            [this](const QString &name) { return m_forwarding.of(name).repository; });
    Fragment fragment;
    fragment.repository = target.effectiveRepository;
    fragment.branch = target.branch;
    fragment.path = m_forwarding.of(target.repository).prefix + target.pathInBranch.toUtf8();
    fragment.source = path;
    fragment.listIndex = listIndex;
    fragment.rule = &rule;
    fragment.svnPrefix = target.svnPrefix;
    const QByteArray nodeId = nodeIdOf(path, pool);
    if (!directory) {
        if (Status done = m_fileEntries.read(m_root, path, nodeId, &fragment.entry, pool); !done)
            return done;
        out->append(fragment);
        return Status();
    }
    Subtree subtree;
    const SubtreeContext context{listIndex, &rule, target.svnPrefix, false};
    if (Status done = buildSubtree(context, path, nodeId, &subtree, pool); !done)
        return done;
    fragment.entry.mode = treeMode;
    fragment.entry.tree = subtree.node;
    out->append(fragment);
    *out += subtree.elsewhere;
    return Status();
}

// The expected tree of a directory that a rule exports, with svnPrefix the
// part of the path its pattern matched: the entries that the same rule takes
// with the same match belong to it; the others are routed on their own.
Status SvnTreeRouter::buildSubtree(const SubtreeContext &context, const QByteArray &path,
                                   const QByteArray &nodeId, Subtree *out, apr_pool_t *pool)
{
    // The rules live as long as the router: a rule is named by its address.
    const QByteArray key = QByteArray::number(context.listIndex) + '\n'
            + QByteArray::number(quintptr(context.rule), 16) + '\n' + context.svnPrefix.toUtf8()
            + '\n' + path;
    const DirectoryMemo *known = context.full || nodeId.isEmpty() ? nullptr
                                                                  : m_directories.find(key);
    if (known && known->nodeId == nodeId) {
        *out = known->subtree;
        return Status();
    }
    // An unchanged directory whose entries were forgotten: its git name is enough.
    const quint64 nodeKey = FileEntryReader::nodeKeyOf(nodeId);
    const TreeNameKey nameKey{nodeKey, quint64(qHash(key, 0))};
    const TreeName *name = known || context.full || nodeKey == 0 ? nullptr
                                                                 : m_treeNames.find(nameKey);
    if (name) {
        out->node = TreeNode::opaque(name->named ? QByteArray(name->id.data(), 20) : QByteArray());
        out->elsewhere.clear();
        return Status();
    }
    std::optional<DirectoryMemo> memo;
    if (known)
        memo = m_directories.take(key);
    DirectoryMemo result;
    if (memo && followsChanges(path)) {
        result.children = std::move(memo->children);
        if (Status done = updateChildren(context, path, &result.children, pool); !done)
            return done;
    } else {
        const QMap<QByteArray, Child> before = memo ? memo->children : QMap<QByteArray, Child>();
        if (Status done = readChildren(context, path, before, &result.children, pool); !done)
            return done;
    }

    auto node = std::make_shared<TreeNode>();
    for (auto it = result.children.cbegin(); it != result.children.cend(); ++it) {
        if (it->inSubtree)
            node->entries.insert(node->entries.cend(), it.key(), it->entry());
        result.subtree.elsewhere += it->elsewhere();
    }
    // The converter's placeholder in the directory a rule matched depends on
    // how it came to be empty, not on the tree: it is left out here.
    const bool matched = pathText(path, true) == context.svnPrefix;
    const bool empty = result.children.isEmpty() && !matched;
    if (Status done = addGeneratedFiles(path, empty, node.get(), pool); !done)
        return done;
    result.subtree.node = context.full ? TreeNodePointer(node) : TreeNode::opaque(node->treeId());
    *out = result.subtree;
    if (!context.full && !nodeId.isEmpty()) {
        if (nodeKey != 0 && result.subtree.elsewhere.isEmpty())
            rememberTreeName(nameKey, result.subtree.node->treeId());
        result.nodeId = nodeId;
        m_directories.insert(key, std::move(result));
    }
    return Status();
}

// Whether what is remembered of the directory at path, and the changes of
// this revision, give its entries: it was there before, and nothing at or
// above it was added or replaced. Every change below a directory is looked at
// in the revision it is made, so what is remembered is its last state.
bool SvnTreeRouter::followsChanges(const QByteArray &path) const
{
    if (!m_changesKnown)
        return false;
    for (int slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1)) {
        if (m_changes.added.contains(path.left(slash)))
            return false;
    }
    return !m_changes.added.contains(path);
}

// Looks again at the entries the revision changed.
Status SvnTreeRouter::updateChildren(const SubtreeContext &context, const QByteArray &path,
                                     QMap<QByteArray, Child> *children, apr_pool_t *pool)
{
    const auto changed = m_changes.changedEntries.constFind(path);
    if (changed == m_changes.changedEntries.constEnd())
        return Status(); // only the directory's properties changed
    ScopedPool entryPool(pool);
    for (const QByteArray &name : *changed) {
        entryPool.clear();
        const QByteArray childPath = path + '/' + name;
        svn_node_kind_t kind = svn_node_none;
        if (svn_error_t *error = svn_fs_check_path(&kind, m_root, childPath.constData(),
                                                   entryPool))
            return svnFailure(error);
        if (kind == svn_node_none) {
            children->remove(name);
            continue;
        }
        const QByteArray childId = nodeIdOf(childPath, entryPool);
        const quint64 childKey = FileEntryReader::nodeKeyOf(childId);
        Child &child = (*children)[name];
        if (childKey != 0 && child.nodeKey == childKey)
            continue;
        child = Child();
        child.nodeKey = childKey;
        if (Status done = buildChild(context, childPath, kind == svn_node_dir, childId, &child,
                                     entryPool);
            !done)
            return done;
    }
    return Status();
}

Status SvnTreeRouter::readChildren(const SubtreeContext &context, const QByteArray &path,
                                   const QMap<QByteArray, Child> &before,
                                   QMap<QByteArray, Child> *children, apr_pool_t *pool)
{
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, m_root, path.constData(), pool))
        return svnFailure(error);
    const QMap<QByteArray, const svn_fs_dirent_t *> sorted = sortedEntries(entries, pool);
    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        entryPool.clear();
        const QByteArray childId = unparsedId(it.value()->id, entryPool);
        const quint64 childKey = FileEntryReader::nodeKeyOf(childId);
        Child child = before.value(it.key());
        if (childKey == 0 || child.nodeKey != childKey) {
            child = Child();
            child.nodeKey = childKey;
            const bool directory = it.value()->kind == svn_node_dir;
            if (Status done = buildChild(context, path + '/' + it.key(), directory, childId,
                                         &child, entryPool);
                !done)
                return done;
        }
        children->insert(it.key(), child);
    }
    return Status();
}

Status SvnTreeRouter::buildChild(const SubtreeContext &context, const QByteArray &path,
                                 bool directory, const QByteArray &nodeId, Child *child,
                                 apr_pool_t *pool)
{
    const QString text = pathText(path, directory);
    const MatchRule *found = ruleFor(context.listIndex, path, directory);
    child->inSubtree = found == context.rule
            && text.left(context.rule->pattern.matchedLength()) == context.svnPrefix;
    if (!child->inSubtree) {
        auto extra = std::make_shared<ChildExtra>();
        if (Status done = routeEntry(context.listIndex, path, directory, &extra->elsewhere, pool);
            !done)
            return done;
        if (!extra->elsewhere.isEmpty())
            child->extra = extra;
        return Status();
    }
    TreeEntry entry;
    if (!directory) {
        if (Status done = m_fileEntries.read(m_root, path, nodeId, &entry, pool); !done)
            return done;
        child->setEntry(entry, false);
        return Status();
    }
    Subtree below;
    if (Status done = buildSubtree(context, path, nodeId, &below, pool); !done)
        return done;
    entry.mode = treeMode;
    entry.tree = below.node;
    if (!below.elsewhere.isEmpty()) {
        auto extra = std::make_shared<ChildExtra>();
        extra->elsewhere = below.elsewhere;
        child->extra = extra;
    }
    child->setEntry(entry, context.full);
    return Status();
}
