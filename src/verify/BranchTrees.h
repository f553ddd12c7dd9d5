#pragma once

#include "svn/ScopedPool.h"
#include "verify/SvnTreeRouter.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>

#include <functional>

// The tree that every branch of every repository should have in git, kept
// up to date revision by revision: the paths a revision changed say which
// pieces of which branches to route again; the rest stays as it was. What is
// kept per branch is the name of each piece's tree, so memory grows with the
// number of branches, not with their size or the length of the history.
class BranchTrees
{
public:
    BranchTrees(svn_fs_t *fs, const SvnTreeRouter::Settings &settings);

    // Brings the trees to revision, which is not below the current one.
    Status advanceTo(int revision);
    // Called with each revision the trees are brought to.
    void setRevisionObserver(std::function<void(int)> observer) { m_observer = std::move(observer); }
    int revision() const { return m_router.revision(); }
    // Called after each revision the trees are brought to, with the branches
    // (repository, branch) whose pieces it routed again; a failure stops the walk.
    using ChangeObserver = std::function<Status(int, const QList<QPair<QString, QString>> &)>;
    void setChangeObserver(ChangeObserver observer) { m_changeObserver = std::move(observer); }

    // The expected tree of a branch at the current revision; null when no
    // path is routed there. Directories may be known by their names only.
    Status tree(const QString &repository, const QString &branch, TreeNodePointer *out);
    // The same with every directory holding its entries, for naming the paths
    // at which git differs.
    Status fullTree(const QString &repository, const QString &branch, TreeNodePointer *out);

    // The first piece of a branch at the current revision, with the rule
    // and Subversion path it comes from; null when no path is routed there.
    const SvnTreeRouter::Fragment *firstFragment(const QString &repository,
                                                 const QString &branch) const;

    // Where the pieces of a branch that are the directory their rule matched
    // go in git: "" for the top, or a path ending in "/".
    QList<QByteArray> matchedDirectories(const QString &repository, const QString &branch) const;

    // Every branch some path is routed to at the current revision, as
    // (repository, branch).
    QList<QPair<QString, QString>> branches() const;

private:
    using Fragment = SvnTreeRouter::Fragment;

    Status applyChanges();
    Status routeAgain(int listIndex, const QByteArray &path);
    Status routeAllAgain();
    Status reportChanges(int revision);
    QByteArray routingPoint(int listIndex, const QByteArray &path, bool modifiedDirectory) const;
    void addFragment(const QByteArray &key, const Fragment &fragment);
    Status assemble(const QString &branchKey, bool full, TreeNodePointer *out);
    static QString branchKey(const QString &repository, const QString &branch);
    static QByteArray fragmentKey(int listIndex, const QByteArray &path);

    SvnTreeRouter m_router;
    ScopedPool m_pool;
    std::function<void(int)> m_observer;
    ChangeObserver m_changeObserver;
    QSet<QString> m_touched; // branch keys routed again in the revision at hand
    bool m_started = false;
    // Every fragment by rules file and its Subversion path in walk order,
    // which is the order in which they are put together.
    QMap<QByteArray, Fragment> m_fragments;
    QHash<QString, QSet<QByteArray>> m_fragmentsOfBranch;
    // The trees put together since their branch last changed.
    QHash<QString, TreeNodePointer> m_trees;
};
