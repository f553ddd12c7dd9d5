#include "verify/BranchTrees.h"

#include "svn/SvnError.h"

#include <QtEndian>

#include <algorithm>

BranchTrees::BranchTrees(svn_fs_t *fs, const SvnTreeRouter::Settings &settings)
    : m_router(fs, settings)
    , m_pool(nullptr)
{
}

QString BranchTrees::branchKey(const QString &repository, const QString &branch)
{
    return repository + QLatin1Char('\n') + branch;
}

// The rules file's number, then the path with its slashes as NULs: keys
// order as the walk of a tree visits the paths, a directory's entries by name
// right after it.
QByteArray BranchTrees::fragmentKey(int listIndex, const QByteArray &path)
{
    QByteArray key(4, '\0');
    qToBigEndian<quint32>(quint32(listIndex), key.data());
    return key + QByteArray(path).replace('/', '\0');
}

Status BranchTrees::advanceTo(int revision)
{
    bool rulesChanged = false;
    if (!m_started) {
        m_started = true;
        if (m_observer)
            m_observer(revision);
        Status routed = m_router.setRevision(revision, &rulesChanged);
        if (routed)
            routed = routeAllAgain();
        return routed ? reportChanges(revision) : routed;
    }
    for (int next = m_router.revision() + 1; next <= revision; ++next) {
        if (m_observer)
            m_observer(next);
        Status routed = m_router.setRevision(next, &rulesChanged);
        if (routed)
            routed = rulesChanged ? routeAllAgain() : applyChanges();
        if (routed)
            routed = reportChanges(next);
        if (!routed)
            return routed;
    }
    return Status();
}

Status BranchTrees::reportChanges(int revision)
{
    QList<QPair<QString, QString>> touched;
    for (const QString &key : std::as_const(m_touched))
        touched.append({key.section(QLatin1Char('\n'), 0, 0), key.section(QLatin1Char('\n'), 1)});
    m_touched.clear();
    return m_changeObserver ? m_changeObserver(revision, touched) : Status();
}

Status BranchTrees::routeAllAgain()
{
    for (auto it = m_fragmentsOfBranch.cbegin(); it != m_fragmentsOfBranch.cend(); ++it)
        m_touched.insert(it.key());
    m_router.forgetChanges();
    m_fragments.clear();
    m_fragmentsOfBranch.clear();
    m_trees.clear();
    for (int listIndex = 0; listIndex < m_router.listCount(); ++listIndex) {
        if (Status routed = routeAgain(listIndex, QByteArray()); !routed)
            return routed;
    }
    return Status();
}

// Routes again, for every rules file, the place each changed path is routed
// from: the first directory on its way that a rule exports, else the path
// itself. A place below another one is done with it.
Status BranchTrees::applyChanges()
{
    m_pool.clear();
    svn_fs_path_change_iterator_t *iterator = nullptr;
    if (svn_error_t *error = svn_fs_paths_changed3(&iterator, m_router.root(), m_pool, m_pool))
        return svnFailure(error);
    QList<QPair<QByteArray, bool>> changes; // path, whether only a directory's properties changed
    SvnTreeRouter::Changes changed;
    for (;;) {
        svn_fs_path_change3_t *change = nullptr;
        if (svn_error_t *error = svn_fs_path_change_get(&change, iterator))
            return svnFailure(error);
        if (!change)
            break;
        const QByteArray path(change->path.data, int(change->path.len));
        changes.append({path, change->change_kind == svn_fs_path_change_modify
                                      && change->node_kind == svn_node_dir});
        if (change->change_kind == svn_fs_path_change_add
            || change->change_kind == svn_fs_path_change_replace)
            changed.added.insert(path);
        for (int slash = path.lastIndexOf('/'); slash >= 0;
             slash = slash > 0 ? path.lastIndexOf('/', slash - 1) : -1) {
            const int end = path.indexOf('/', slash + 1);
            changed.changedEntries[path.left(slash)].insert(
                    path.mid(slash + 1, end < 0 ? -1 : end - slash - 1));
        }
    }
    m_router.setChanges(changed);
    for (int listIndex = 0; listIndex < m_router.listCount(); ++listIndex) {
        QMap<QByteArray, QByteArray> places; // key to path
        for (const auto &change : std::as_const(changes)) {
            const QByteArray place = routingPoint(listIndex, change.first, change.second);
            if (!place.isNull())
                places.insert(fragmentKey(listIndex, place), place);
        }
        QByteArray done;
        for (auto it = places.cbegin(); it != places.cend(); ++it) {
            if (!done.isNull() && it.key().startsWith(done + '\0'))
                continue;
            done = it.key();
            if (Status routed = routeAgain(listIndex, it.value()); !routed)
                return routed;
        }
    }
    return Status();
}

QByteArray BranchTrees::routingPoint(int listIndex, const QByteArray &path,
                                     bool modifiedDirectory) const
{
    for (int slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1)) {
        const QByteArray directory = path.left(slash);
        const MatchRule *rule = m_router.ruleFor(listIndex, directory, true);
        if (rule && rule->action == RuleAction::Export)
            return directory;
    }
    if (path.isEmpty() || path == "/")
        return QByteArray();
    // A directory that is only walked through has nothing of its own in
    // git; its changed entries come as changes of their own.
    if (modifiedDirectory) {
        const MatchRule *rule = m_router.ruleFor(listIndex, path, true);
        return rule && rule->action == RuleAction::Export ? path : QByteArray();
    }
    return path;
}

Status BranchTrees::routeAgain(int listIndex, const QByteArray &path)
{
    const QByteArray key = fragmentKey(listIndex, path);
    const QByteArray below = key + '\0';
    for (auto it = m_fragments.lowerBound(key);
         it != m_fragments.end() && (it.key() == key || it.key().startsWith(below));) {
        const QString branch = branchKey(it->repository, it->branch);
        m_trees.remove(branch);
        m_touched.insert(branch);
        auto sources = m_fragmentsOfBranch.find(branch);
        if (sources != m_fragmentsOfBranch.end()) {
            sources->remove(it.key());
            if (sources->isEmpty())
                m_fragmentsOfBranch.erase(sources);
        }
        it = m_fragments.erase(it);
    }

    bool directory = true;
    if (!path.isEmpty()) {
        svn_node_kind_t kind = svn_node_none;
        if (svn_error_t *error = svn_fs_check_path(&kind, m_router.root(), path.constData(),
                                                   m_pool))
            return svnFailure(error);
        if (kind == svn_node_none)
            return Status();
        directory = kind == svn_node_dir;
    }
    SvnTreeRouter::Fragments fragments;
    ScopedPool pool(m_pool.pool());
    if (Status routed = m_router.route(listIndex, path, directory, &fragments, pool); !routed)
        return routed;
    for (const Fragment &fragment : std::as_const(fragments))
        addFragment(fragmentKey(listIndex, fragment.source), fragment);
    return Status();
}

void BranchTrees::addFragment(const QByteArray &key, const Fragment &fragment)
{
    const QString branch = branchKey(fragment.repository, fragment.branch);
    m_fragments.insert(key, fragment);
    m_fragmentsOfBranch[branch].insert(key);
    m_trees.remove(branch);
    m_touched.insert(branch);
}

Status BranchTrees::tree(const QString &repository, const QString &branch, TreeNodePointer *out)
{
    const QString key = branchKey(repository, branch);
    auto known = m_trees.constFind(key);
    if (known != m_trees.constEnd()) {
        *out = known.value();
        return Status();
    }
    if (Status assembled = assemble(key, false, out); !assembled)
        return assembled;
    if (*out)
        m_trees.insert(key, *out);
    return Status();
}

Status BranchTrees::fullTree(const QString &repository, const QString &branch,
                             TreeNodePointer *out)
{
    return assemble(branchKey(repository, branch), true, out);
}

// Puts the fragments of a branch together in walk order. Fragments that meet
// in one directory need its entries: then the directories are read whole.
Status BranchTrees::assemble(const QString &branchKey, bool full, TreeNodePointer *out)
{
    out->reset();
    const auto sources = m_fragmentsOfBranch.constFind(branchKey);
    if (sources == m_fragmentsOfBranch.constEnd())
        return Status();
    QList<QByteArray> keys = sources->values();
    std::sort(keys.begin(), keys.end());
    TreeNodePointer tree = std::make_shared<TreeNode>();
    bool complete = true;
    ScopedPool pool(m_pool.pool());
    for (const QByteArray &key : std::as_const(keys)) {
        const Fragment &fragment = m_fragments.constFind(key).value();
        TreeEntry entry = fragment.entry;
        if (Status read = full ? m_router.fullEntry(fragment, &entry, pool) : Status(); !read)
            return read;
        tree = ExpectedTree::withEntry(tree, fragment.path, entry, &complete);
    }
    if (!complete)
        return assemble(branchKey, true, out);
    *out = tree;
    return Status();
}

const SvnTreeRouter::Fragment *BranchTrees::firstFragment(const QString &repository,
                                                          const QString &branch) const
{
    const auto sources = m_fragmentsOfBranch.constFind(branchKey(repository, branch));
    if (sources == m_fragmentsOfBranch.constEnd() || sources->isEmpty())
        return nullptr;
    const QByteArray first = *std::min_element(sources->cbegin(), sources->cend());
    return &m_fragments.constFind(first).value();
}

QList<QByteArray> BranchTrees::matchedDirectories(const QString &repository,
                                                  const QString &branch) const
{
    QList<QByteArray> paths;
    for (const QByteArray &key : m_fragmentsOfBranch.value(branchKey(repository, branch))) {
        const Fragment &fragment = m_fragments.constFind(key).value();
        if (fragment.entry.isTree() && QString::fromUtf8(fragment.source + '/') == fragment.svnPrefix)
            paths.append(fragment.path);
    }
    return paths;
}

QList<QPair<QString, QString>> BranchTrees::branches() const
{
    QList<QPair<QString, QString>> result;
    for (auto it = m_fragmentsOfBranch.cbegin(); it != m_fragmentsOfBranch.cend(); ++it) {
        if (!it->isEmpty())
            result.append({it.key().section(QLatin1Char('\n'), 0, 0),
                           it.key().section(QLatin1Char('\n'), 1)});
    }
    return result;
}
