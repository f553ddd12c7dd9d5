#include "verify/SvnTreeRouter.h"

#include "svn/AttributeTranslation.h"
#include "svn/PathRouting.h"
#include "svn/RevisionExporter.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QCryptographicHash>

#include <cstring>

#include <apr_hash.h>
#include <svn_pools.h>

namespace {

const int regularFileMode = 0100644;
const int executableFileMode = 0100755;
const int symbolicLinkMode = 0120000;
const int treeMode = 040000;

// Past this many remembered subtrees the caches start afresh, which keeps
// memory bounded on any history at the price of reading some directories again.
const int maximumCachedSubtrees = 200000;

QString pathText(const QByteArray &path, bool directory)
{
    return QString::fromUtf8(directory ? path + '/' : path);
}

// The entries of a directory listing, ordered byte-wise by name.
QMap<QByteArray, svn_node_kind_t> sortedEntries(apr_hash_t *entries, apr_pool_t *pool)
{
    QMap<QByteArray, svn_node_kind_t> sorted;
    for (apr_hash_index_t *it = apr_hash_first(pool, entries); it; it = apr_hash_next(it)) {
        const void *key = nullptr;
        void *value = nullptr;
        apr_hash_this(it, &key, nullptr, &value);
        sorted.insert(QByteArray(static_cast<const char *>(key)),
                      static_cast<const svn_fs_dirent_t *>(value)->kind);
    }
    return sorted;
}

} // namespace

SvnTreeRouter::SvnTreeRouter(svn_fs_t *fs, const Settings &settings)
    : m_fs(fs)
    , m_settings(settings)
    , m_pool(svn_pool_create(nullptr))
{
}

SvnTreeRouter::~SvnTreeRouter()
{
    svn_pool_destroy(m_pool);
}

QString SvnTreeRouter::branchKey(const QString &repository, const QString &branch)
{
    return repository + QLatin1Char('\n') + branch;
}

// Follows the forwarding rules from name to the repository that writes, and
// collects the prefixes on the way: each step puts its prefix in front of
// what it forwards. The walk is bounded, so a forwarding loop cannot hang it.
SvnTreeRouter::Forwarding SvnTreeRouter::forwardingOf(const QString &name) const
{
    Forwarding forwarding{name, QByteArray()};
    for (int depth = 0; depth < m_settings.repositoryRules.size(); ++depth) {
        const RepositoryRule *found = nullptr;
        for (const RepositoryRule &rule : m_settings.repositoryRules) {
            if (rule.name == forwarding.repository)
                found = &rule;
        }
        if (!found || found->targetName.isEmpty())
            break;
        forwarding.prefix = found->prefix.toUtf8() + forwarding.prefix;
        forwarding.repository = found->targetName;
    }
    return forwarding;
}

QString SvnTreeRouter::effectiveRepository(const QString &name) const
{
    return forwardingOf(name).repository;
}

QByteArray SvnTreeRouter::forwardingPrefix(const QString &name) const
{
    return forwardingOf(name).prefix;
}

bool SvnTreeRouter::branchTrees(int revision, QHash<QString, TreeNodePointer> *trees)
{
    svn_pool_clear(m_pool);
    m_revision = revision;
    if (svn_error_t *error = svn_fs_revision_root(&m_root, m_fs, revision, m_pool))
        return reportSvnError(error) == 0;

    m_rulesInForce.clear();
    for (const QList<MatchRule> &list : std::as_const(m_settings.matchRuleLists)) {
        for (const MatchRule &rule : list) {
            m_rulesInForce += PathRouting::inForceAt(rule, revision) ? '1' : '0';
        }
        m_rulesInForce += '|';
    }
    boundCaches();

    trees->clear();
    for (int listIndex = 0; listIndex < m_settings.matchRuleLists.size(); ++listIndex) {
        Fragments fragments;
        ScopedPool pool(m_pool);
        if (!routeDirectory(listIndex, QByteArray(), &fragments, pool))
            return false;
        for (const Fragment &fragment : std::as_const(fragments)) {
            const QString key = branchKey(fragment.repository, fragment.branch);
            TreeNodePointer &tree = (*trees)[key];
            if (!tree)
                tree = std::make_shared<TreeNode>();
            tree = ExpectedTree::withEntry(tree, fragment.path, fragment.entry);
        }
    }
    return true;
}

void SvnTreeRouter::boundCaches()
{
    if (m_subtrees.size() + m_routedDirectories.size() > maximumCachedSubtrees) {
        m_subtrees.clear();
        m_routedDirectories.clear();
    }
    if (m_blobIds.size() > 4 * maximumCachedSubtrees)
        m_blobIds.clear();
}

QByteArray SvnTreeRouter::cacheKey(int listIndex, const QByteArray &path, const QByteArray &what,
                                   apr_pool_t *pool) const
{
    const svn_fs_id_t *id = nullptr;
    QByteArray key = QByteArray::number(listIndex) + '\n' + what + '\n' + m_rulesInForce + '\n'
            + path + '\n';
    if (svn_error_t *error = svn_fs_node_id(&id, m_root, path.isEmpty() ? "/" : path.constData(),
                                            pool)) {
        svn_error_clear(error);
        return QByteArray();
    }
    const svn_string_t *text = svn_fs_unparse_id(id, pool);
    return key + QByteArray(text->data, int(text->len));
}

// Routes the entries of a directory that no rule exports as a whole (the
// root, a directory no rule matches, one with action recurse).
bool SvnTreeRouter::routeDirectory(int listIndex, const QByteArray &path, Fragments *out,
                                   apr_pool_t *pool)
{
    const QByteArray key = cacheKey(listIndex, path, "route", pool);
    if (!key.isEmpty()) {
        auto cached = m_routedDirectories.constFind(key);
        if (cached != m_routedDirectories.constEnd()) {
            *out += cached.value();
            return true;
        }
    }
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, m_root,
                                                path.isEmpty() ? "/" : path.constData(), pool))
        return reportSvnError(error) == 0;
    const QMap<QByteArray, svn_node_kind_t> sorted =
            sortedEntries(entries, pool);
    Fragments fragments;
    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        entryPool.clear();
        if (!routeEntry(listIndex, path + '/' + it.key(), it.value() == svn_node_dir,
                        &fragments, entryPool))
            return false;
    }
    if (!key.isEmpty())
        m_routedDirectories.insert(key, fragments);
    *out += fragments;
    return true;
}

bool SvnTreeRouter::routeEntry(int listIndex, const QByteArray &path, bool directory,
                               Fragments *out, apr_pool_t *pool)
{
    const QList<MatchRule> &list = m_settings.matchRuleLists.at(listIndex);
    const MatchRule *rule = PathRouting::firstMatchingRule(list, pathText(path, directory),
                                                           m_revision);
    if (rule && rule->action == RuleAction::Export)
        return exportEntry(listIndex, *rule, path, directory, out, pool);
    if (rule && rule->action == RuleAction::Ignore && !directory)
        return true;
    // A directory that no rule takes, one to recurse into, or one that an
    // ignore rule matches (a catch-all "match /" matches "/branches/"): its
    // entries find their own rules, as the converter's changed paths below it
    // do. A file no rule takes is in no branch.
    if (directory)
        return routeDirectory(listIndex, path, out, pool);
    return true;
}

bool SvnTreeRouter::exportEntry(int listIndex, const MatchRule &rule, const QByteArray &path,
                                bool directory, Fragments *out, apr_pool_t *pool)
{
    const QString text = pathText(path, directory);
    rule.pattern.indexIn(text);
    const RuleTarget target = PathRouting::ruleTarget(
            rule, text, rule.pattern.matchedLength(),
            [this](const QString &name) { return effectiveRepository(name); });
    Fragment fragment;
    fragment.repository = target.effectiveRepository;
    fragment.branch = target.branch;
    fragment.path = forwardingPrefix(target.repository) + target.pathInBranch.toUtf8();
    if (!directory) {
        if (!fileEntry(path, &fragment.entry, pool))
            return false;
        out->append(fragment);
        return true;
    }
    Subtree subtree;
    if (!buildSubtree(listIndex, rule, target.svnPrefix, path, &subtree, pool))
        return false;
    fragment.entry.mode = treeMode;
    fragment.entry.tree = subtree.node;
    out->append(fragment);
    *out += subtree.elsewhere;
    return true;
}

// The expected tree of a directory that rule exports, with svnPrefix the part
// of the path its pattern matched: the entries that the same rule takes with
// the same match belong to it; the others are routed on their own.
bool SvnTreeRouter::buildSubtree(int listIndex, const MatchRule &rule, const QString &svnPrefix,
                                 const QByteArray &path, Subtree *out, apr_pool_t *pool)
{
    const QByteArray key = cacheKey(listIndex, path, "tree " + svnPrefix.toUtf8() + ' '
                                            + QByteArray::number(rule.lineNumber) + ' '
                                            + rule.rulesFile.toUtf8(),
                                    pool);
    if (!key.isEmpty()) {
        auto cached = m_subtrees.constFind(key);
        if (cached != m_subtrees.constEnd()) {
            *out = cached.value();
            return true;
        }
    }
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, m_root, path.constData(), pool))
        return reportSvnError(error) == 0;
    const QMap<QByteArray, svn_node_kind_t> sorted =
            sortedEntries(entries, pool);

    const QList<MatchRule> &list = m_settings.matchRuleLists.at(listIndex);
    auto node = std::make_shared<TreeNode>();
    Subtree result;
    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        entryPool.clear();
        const QByteArray entryPath = path + '/' + it.key();
        const bool directory = it.value() == svn_node_dir;
        const QString text = pathText(entryPath, directory);
        const MatchRule *found = PathRouting::firstMatchingRule(list, text, m_revision);
        const bool sameMatch = found == &rule
                && text.left(rule.pattern.matchedLength()) == svnPrefix;
        if (!sameMatch) {
            if (!routeEntry(listIndex, entryPath, directory, &result.elsewhere, entryPool))
                return false;
            continue;
        }
        TreeEntry entry;
        if (directory) {
            Subtree below;
            if (!buildSubtree(listIndex, rule, svnPrefix, entryPath, &below, entryPool))
                return false;
            entry.mode = treeMode;
            entry.tree = below.node;
            result.elsewhere += below.elsewhere;
        } else if (!fileEntry(entryPath, &entry, entryPool)) {
            return false;
        }
        node->entries.insert(it.key(), entry);
    }
    if (!addGeneratedFiles(path, sorted.isEmpty(), node.get(), pool))
        return false;
    result.node = node;
    if (!key.isEmpty())
        m_subtrees.insert(key, result);
    *out = result;
    return true;
}

bool SvnTreeRouter::addGeneratedFiles(const QByteArray &path, bool empty, TreeNode *node,
                                      apr_pool_t *pool)
{
    QString ignoreText;
    if (m_settings.svnIgnore
        && !RevisionExporter::readIgnoreRules(ignoreText, pool, path.constData(), m_root))
        return false;
    TreeEntry gitignore;
    gitignore.mode = regularFileMode;
    if (!ignoreText.isNull()) {
        gitignore.blobId = ExpectedTree::blobIdOf(ignoreText.toUtf8());
        node->entries.insert(".gitignore", gitignore);
    } else if (m_settings.emptyDirs && empty) {
        gitignore.blobId = ExpectedTree::blobIdOf(QByteArray());
        node->entries.insert(".gitignore", gitignore);
    }
    return !m_settings.svnAttributes || addGeneratedAttributes(path, node, pool);
}

bool SvnTreeRouter::fileEntry(const QByteArray &path, TreeEntry *entry, apr_pool_t *pool)
{
    const char *svnPath = path.constData();
    svn_string_t *executable = nullptr;
    svn_string_t *special = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&executable, m_root, svnPath, "svn:executable",
                                              pool))
        return reportSvnError(error) == 0;
    if (svn_error_t *error = svn_fs_node_prop(&special, m_root, svnPath, "svn:special", pool))
        return reportSvnError(error) == 0;
    svn_checksum_t *checksum = nullptr;
    if (svn_error_t *error = svn_fs_file_checksum(&checksum, svn_checksum_sha1, m_root, svnPath,
                                                  TRUE, pool))
        return reportSvnError(error) == 0;
    const QByteArray contentKey(reinterpret_cast<const char *>(checksum->digest), 20);

    entry->mode = executable ? executableFileMode : regularFileMode;
    if (m_settings.svnAttributes && !special) {
        bool normalises = false;
        if (!AttributeTranslation::normalisesLineEnds(&normalises, m_root, svnPath, pool))
            return false;
        if (normalises)
            return normalisedFileEntry(svnPath, contentKey, entry, pool);
    }
    auto known = m_blobIds.constFind(contentKey);
    if (known != m_blobIds.constEnd() && !special) {
        entry->blobId = known.value();
        return true;
    }

    // Hashed as git hashes a blob, in pieces, so that a large file is never
    // held whole. A link's blob is its target, without the leading "link ".
    svn_filesize_t length = 0;
    if (svn_error_t *error = svn_fs_file_length(&length, m_root, svnPath, pool))
        return reportSvnError(error) == 0;
    svn_stream_t *contents = nullptr;
    if (svn_error_t *error = svn_fs_file_contents(&contents, m_root, svnPath, pool))
        return reportSvnError(error) == 0;
    char buffer[65536];
    apr_size_t got = sizeof buffer;
    if (svn_error_t *error = svn_stream_read_full(contents, buffer, &got))
        return reportSvnError(error) == 0;
    qint64 skip = 0;
    if (special && got >= 5 && std::memcmp(buffer, "link ", 5) == 0) {
        entry->mode = symbolicLinkMode;
        skip = 5;
    }
    if (known != m_blobIds.constEnd() && skip == 0) {
        entry->blobId = known.value();
        return true;
    }
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData("blob " + QByteArray::number(qint64(length) - skip) + '\0');
    hash.addData(QByteArrayView(buffer + skip, qsizetype(got) - skip));
    while (got == sizeof buffer) {
        got = sizeof buffer;
        if (svn_error_t *error = svn_stream_read_full(contents, buffer, &got))
            return reportSvnError(error) == 0;
        hash.addData(QByteArrayView(buffer, qsizetype(got)));
    }
    entry->blobId = hash.result();
    // Links are few; only whole contents are remembered.
    if (skip == 0)
        m_blobIds.insert(contentKey, entry->blobId);
    return true;
}
