#include "svn/RevisionQueries.h"

#include "rules/MatchCounter.h"
#include "svn/PathRouting.h"
#include "svn/ScopedPool.h"

#include <QByteArray>

#include <cstring>
#include <ctime>

uint RevisionQueries::parseSvnDate(const char *text)
{
    // The fraction of a second and the "Z" (8 characters) are dropped.
    QByteArray dateTime(text);
    dateTime.chop(8);
    struct tm brokenDown;
    std::memset(&brokenDown, 0, sizeof brokenDown);
    strptime(dateTime.constData(), "%Y-%m-%dT%H:%M:%S", &brokenDown);
    const time_t seconds = timegm(&brokenDown);
    // A broken date must not wrap round into a time far in the future.
    return seconds < 0 ? 0 : uint(seconds);
}

bool RevisionQueries::isDirectoryInRevision(svn_fs_t *fs, int revision, const char *path,
                                            apr_pool_t *pool)
{
    ScopedPool subPool(pool);
    svn_fs_root_t *root = nullptr;
    if (svn_error_t *error = svn_fs_revision_root(&root, fs, revision, subPool)) {
        svn_error_clear(error);
        return false;
    }
    svn_boolean_t isDirectory = FALSE;
    if (svn_error_t *error = svn_fs_is_dir(&isDirectory, root, path, subPool)) {
        svn_error_clear(error);
        return false;
    }
    return isDirectory;
}

const MatchRule *RevisionQueries::findMatchingRule(const QList<MatchRule> &ruleList,
                                                   const QString &matchedPath, int revision,
                                                   MatchCounter *counter)
{
    const MatchRule *rule = PathRouting::firstMatchingRule(ruleList, matchedPath, revision);
    if (rule && counter)
        counter->countMatch(*rule);
    return rule;
}
