#pragma once

#include "rules/MatchRule.h"
#include "rules/RepositoryRule.h"
#include "verify/ExpectedTree.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVector>

#include <apr_pools.h>
#include <svn_fs.h>

// Builds, from a Subversion revision, the tree that every branch of every
// repository should have in git: each path goes where the first matching
// rule of each rules file sends it, forwarding repositories put their prefix
// in front, and the .gitignore files of --svn-ignore and --empty-dirs and the
// .gitattributes files of --svn-attributes are added.
//
// Directories are read only when Subversion says they changed: an expected
// subtree is kept per (node revision, path, rules in force), which is sound
// because a directory's node revision changes with anything below it.
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

    SvnTreeRouter(svn_fs_t *fs, const Settings &settings);
    ~SvnTreeRouter();

    SvnTreeRouter(const SvnTreeRouter &) = delete;
    SvnTreeRouter &operator=(const SvnTreeRouter &) = delete;

    // The key of a branch in the result of branchTrees.
    static QString branchKey(const QString &repository, const QString &branch);

    // Every branch that some Subversion path routes to at revision, with its
    // expected tree. False when Subversion cannot be read.
    bool branchTrees(int revision, QHash<QString, TreeNodePointer> *trees);

    // The distinct file contents hashed so far.
    int hashedContents() const { return m_blobIds.size(); }

private:
    // A piece of a branch: a file or a directory tree at a path in the branch.
    struct Fragment
    {
        QString repository;
        QString branch;
        QByteArray path;
        TreeEntry entry;
    };
    using Fragments = QVector<Fragment>;
    struct Subtree
    {
        TreeNodePointer node;
        // Paths below that the rules send elsewhere.
        Fragments elsewhere;
    };

    bool routeDirectory(int listIndex, const QByteArray &path, Fragments *out,
                        apr_pool_t *pool);
    bool routeEntry(int listIndex, const QByteArray &path, bool directory, Fragments *out,
                    apr_pool_t *pool);
    bool exportEntry(int listIndex, const MatchRule &rule, const QByteArray &path,
                     bool directory, Fragments *out, apr_pool_t *pool);
    bool buildSubtree(int listIndex, const MatchRule &rule, const QString &svnPrefix,
                      const QByteArray &path, Subtree *out, apr_pool_t *pool);
    bool fileEntry(const QByteArray &path, TreeEntry *entry, apr_pool_t *pool);
    // A file that git holds with LF line ends (--svn-attributes).
    bool normalisedFileEntry(const char *svnPath, const QByteArray &contentKey, TreeEntry *entry,
                             apr_pool_t *pool);
    bool addGeneratedFiles(const QByteArray &path, bool empty, TreeNode *node,
                           apr_pool_t *pool);
    bool addGeneratedAttributes(const QByteArray &path, TreeNode *node, apr_pool_t *pool);
    QByteArray cacheKey(int listIndex, const QByteArray &path, const QByteArray &what,
                        apr_pool_t *pool) const;
    struct Forwarding
    {
        QString repository;
        QByteArray prefix;
    };
    Forwarding forwardingOf(const QString &name) const;
    QString effectiveRepository(const QString &name) const;
    QByteArray forwardingPrefix(const QString &name) const;
    void boundCaches();

    svn_fs_t *m_fs;
    Settings m_settings;
    apr_pool_t *m_pool;
    svn_fs_root_t *m_root = nullptr;
    int m_revision = 0;
    QByteArray m_rulesInForce;
    QHash<QByteArray, Fragments> m_routedDirectories;
    QHash<QByteArray, Subtree> m_subtrees;
    // Subversion's SHA-1 of a file's contents (and whether it is a link) to the git blob name.
    QHash<QByteArray, QByteArray> m_blobIds;
};
