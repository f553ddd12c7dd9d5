#pragma once

#include "rules/MatchRule.h"
#include "svn/PathRouting.h"
#include "svn/RuleTarget.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <svn_fs.h>

// Finds the refs that two Subversion paths write while both exist and the
// rules still send both there (/trunk and /branches/master both mapped to
// master): each write of one then undoes the other's. A path that takes
// over a ref from one deleted or no longer mapped is no such case. Also
// finds refs that git cannot hold side by side (master and master/1.0).
class SharedRefs
{
public:
    struct Writer
    {
        int firstRevision = -1;
        int lastRevision = -1;
    };
    struct SharedRef
    {
        QString repository;
        QString branch;
        QMap<QString, Writer> writers; // Subversion path -> revisions
    };

    SharedRefs(const QList<QList<MatchRule>> &ruleLists,
               PathRouting::RepositoryResolver effectiveRepository);

    void record(svn_fs_t *fs, apr_pool_t *pool, int revision, const QString &matchedPath,
                const RuleTarget &target, bool deletion);
    QList<SharedRef> sharedRefs() const { return m_shared.values(); }
    // "REPOSITORY: REF and REF" -> the revision where the second one came.
    const QMap<QString, int> &clashingRefs() const { return m_clashes; }

private:
    struct Owner
    {
        QString path;
        Writer writes;
    };
    void noteRef(int revision, const RuleTarget &target, bool dropped);
    static QString keyOf(const QString &matchedPath, const RuleTarget &target);
    bool stillWrites(svn_fs_t *fs, apr_pool_t *pool, int revision, const QString &path,
                     const QString &key) const;

    QList<QList<MatchRule>> m_ruleLists;
    PathRouting::RepositoryResolver m_effectiveRepository;
    QMap<QString, Owner> m_owners;      // key -> the path that writes the ref
    QMap<QString, SharedRef> m_shared;  // key -> every path that wrote it
    QHash<QString, QSet<QString>> m_liveRefs; // repository -> refs
    QMap<QString, int> m_clashes;
};
