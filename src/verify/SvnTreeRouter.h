#pragma once

#include "common/Failure.h"
#include "rules/MatchRule.h"
#include "rules/RepositoryRule.h"
#include "svn/ScopedPool.h"
#include "verify/BoundedCache.h"
#include "verify/ExpectedTree.h"
#include "verify/FileEntryReader.h"
#include "verify/FixedCache.h"
#include "verify/RepositoryForwarding.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QList>
#include <QMap>
#include <QString>
#include <QVector>

#include <array>
#include <memory>

#include <apr_pools.h>
#include <svn_fs.h>

// Sends the paths of a Subversion revision where the rules send them: each
// path goes where the first matching rule of its rules file sends it,
// forwarding repositories put their prefix in front, and the .gitignore files
// of --svn-ignore and --empty-dirs and the .gitattributes files of
// --svn-attributes are added.
//
// A directory that a rule exports becomes a tree known by its git name only.
// What was found for a directory is remembered by its path and node revision,
// with the result for each entry: when the directory changes, only the
// entries whose node revision changed are looked at again. This is a bounded
// cache, as are those of the files, so memory does not grow with the history.
class SvnTreeRouter
{
public:
    struct Settings
    {
        QList<QList<MatchRule>> matchRuleLists;
        QList<RepositoryRule> repositoryRules;
        bool svnIgnore = false;
        bool svnAttributes = false;
        bool emptyDirs = false;
    };

    // A piece of a branch: a file or a directory tree at a path in the
    // branch, with the Subversion path and the rule it comes from.
    struct Fragment
    {
        QString repository;
        QString branch;
        QByteArray path;
        TreeEntry entry;
        QByteArray source;
        int listIndex = 0;
        const MatchRule *rule = nullptr;
        QString svnPrefix;
    };
    using Fragments = QVector<Fragment>;

    SvnTreeRouter(svn_fs_t *fs, const Settings &settings);

    SvnTreeRouter(const SvnTreeRouter &) = delete;
    SvnTreeRouter &operator=(const SvnTreeRouter &) = delete;

    // What a revision changed: for each directory, the names of its entries
    // at or below which something changed, and the paths added or replaced.
    struct Changes
    {
        QHash<QByteArray, QSet<QByteArray>> changedEntries;
        QSet<QByteArray> added;
    };

    // Reads revision from now on. *rulesChanged tells whether other rules are
    // in force than at the revision before; what was remembered is dropped then.
    Status setRevision(int revision, bool *rulesChanged);
    // What the current revision changed, when it follows the one read before;
    // without them, changed directories are read whole.
    void setChanges(const Changes &changes) { m_changes = changes; m_changesKnown = true; }
    void forgetChanges() { m_changesKnown = false; }
    svn_fs_root_t *root() const { return m_root; }
    int revision() const { return m_revision; }
    int listCount() const { return int(m_settings.matchRuleLists.size()); }

    // The rule of list that path (a directory when directory) meets first; null for none.
    const MatchRule *ruleFor(int listIndex, const QByteArray &path, bool directory) const;
    // The fragments of everything at and below path; the root is "".
    Status route(int listIndex, const QByteArray &path, bool directory, Fragments *out,
                 apr_pool_t *pool);
    // The entry of fragment with every directory below holding its entries.
    Status fullEntry(const Fragment &fragment, TreeEntry *entry, apr_pool_t *pool);

private:
    struct Subtree
    {
        TreeNodePointer node;
        // Paths below that the rules send elsewhere.
        Fragments elsewhere;
    };
    // What the rules send elsewhere from below an entry, and with full
    // trees the entry's tree with its entries; most entries have neither.
    struct ChildExtra
    {
        Fragments elsewhere;
        TreeNodePointer tree;
    };
    // An entry of a directory, kept small: a directory's memo holds one for
    // each of its entries.
    struct Child
    {
        quint64 nodeKey = 0; // the node revision; 0 when unknown
        int mode = 0;
        bool inSubtree = false;
        bool named = false; // a tree without any blob below has no git name
        std::array<char, 20> id{};
        std::shared_ptr<const ChildExtra> extra;

        TreeEntry entry() const;
        void setEntry(const TreeEntry &entry, bool keepTree);
        const Fragments &elsewhere() const;
    };
    struct DirectoryMemo
    {
        QByteArray nodeId;
        QMap<QByteArray, Child> children;
        Subtree subtree;
        qint64 weight() const { return children.size() + 1; }
    };
    // A directory's node revision, and a hash of where it is and which rule
    // takes it: the same node revision is found at a few paths at most.
    struct TreeNameKey
    {
        quint64 nodeKey = 0;
        quint64 place = 0;
        bool operator==(const TreeNameKey &other) const
        {
            return nodeKey == other.nodeKey && place == other.place;
        }
        friend size_t qHash(const TreeNameKey &key, size_t seed)
        {
            return qHash(key.nodeKey ^ (key.place * 0x9e3779b97f4a7c15ULL), seed);
        }
    };
    // The git name of a directory that the rules send nowhere else from.
    struct TreeName
    {
        bool named = false;
        std::array<char, 20> id{};
    };
    struct SubtreeContext
    {
        int listIndex;
        const MatchRule *rule;
        QString svnPrefix;
        bool full; // every node with its entries, nothing remembered
    };

    Status routeDirectory(int listIndex, const QByteArray &path, Fragments *out,
                          apr_pool_t *pool);
    Status routeEntry(int listIndex, const QByteArray &path, bool directory, Fragments *out,
                      apr_pool_t *pool);
    Status exportEntry(int listIndex, const MatchRule &rule, const QByteArray &path,
                       bool directory, Fragments *out, apr_pool_t *pool);
    Status buildSubtree(const SubtreeContext &context, const QByteArray &path,
                        const QByteArray &nodeId, Subtree *out, apr_pool_t *pool);
    Status updateChildren(const SubtreeContext &context, const QByteArray &path,
                          QMap<QByteArray, Child> *children, apr_pool_t *pool);
    Status readChildren(const SubtreeContext &context, const QByteArray &path,
                        const QMap<QByteArray, Child> &before, QMap<QByteArray, Child> *children,
                        apr_pool_t *pool);
    bool followsChanges(const QByteArray &path) const;
    void rememberTreeName(const TreeNameKey &key, const QByteArray &treeId);
    Status buildChild(const SubtreeContext &context, const QByteArray &path, bool directory,
                      const QByteArray &nodeId, Child *child, apr_pool_t *pool);
    Status addGeneratedFiles(const QByteArray &path, bool empty, TreeNode *node,
                             apr_pool_t *pool);
    Status addGeneratedAttributes(const QByteArray &path, TreeNode *node, apr_pool_t *pool);
    QByteArray nodeIdOf(const QByteArray &path, apr_pool_t *pool) const;

    svn_fs_t *m_fs;
    Settings m_settings;
    RepositoryForwarding m_forwarding;
    ScopedPool m_pool;
    svn_fs_root_t *m_root = nullptr;
    int m_revision = 0;
    QByteArray m_rulesInForce;
    Changes m_changes;
    bool m_changesKnown = false;
    BoundedCache<QByteArray, DirectoryMemo> m_directories;
    // Outlives the directory's memo, for when a directory around it changes.
    FixedCache<TreeNameKey, TreeName> m_treeNames;
    FileEntryReader m_fileEntries;
};
