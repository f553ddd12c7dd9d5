#include "svn/MergeInfoReader.h"

#include "svn/SvnError.h"

#include <QByteArray>

#include <cstring>

#include <svn_props.h>

namespace {

const char svnmergeIntegrated[] = "svnmerge-integrated";

Result<QByteArray> nodeProperty(svn_fs_root_t *root, const char *path, const char *name,
                                apr_pool_t *pool)
{
    svn_string_t *value = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&value, root, path, name, pool))
        return svnFailure(error);
    return value ? QByteArray(value->data, int(value->len)) : QByteArray();
}

} // namespace

namespace MergeInfoReader {

Result<MergeInfo> at(svn_fs_root_t *root, const char *path, apr_pool_t *pool)
{
    svn_node_kind_t kind = svn_node_none;
    if (svn_error_t *error = svn_fs_check_path(&kind, root, path, pool))
        return svnFailure(error);
    if (kind == svn_node_none)
        return MergeInfo();
    const Result<QByteArray> mergeinfo = nodeProperty(root, path, SVN_PROP_MERGEINFO, pool);
    if (!mergeinfo)
        return mergeinfo.failure();
    const Result<QByteArray> integrated = nodeProperty(root, path, svnmergeIntegrated, pool);
    if (!integrated)
        return integrated.failure();
    return MergeInfo::fromProperties(mergeinfo.value(), integrated.value());
}

Result<MergeInfo> before(svn_fs_root_t *root, const char *path, apr_pool_t *pool)
{
    const svn_revnum_t revision = svn_fs_revision_root_revision(root);
    svn_fs_root_t *copyRoot = nullptr;
    const char *copyPath = nullptr;
    if (svn_error_t *error = svn_fs_closest_copy(&copyRoot, &copyPath, root, path, pool))
        return svnFailure(error);
    svn_revnum_t previousRevision = revision - 1;
    QByteArray previousPath(path);
    if (copyRoot && svn_fs_revision_root_revision(copyRoot) == revision) {
        const char *fromPath = nullptr;
        if (svn_error_t *error =
                    svn_fs_copied_from(&previousRevision, &fromPath, root, copyPath, pool))
            return svnFailure(error);
        previousPath = QByteArray(fromPath) + QByteArray(path + std::strlen(copyPath));
    }
    if (previousRevision < 1)
        return MergeInfo();
    svn_fs_root_t *previousRoot = nullptr;
    if (svn_error_t *error = svn_fs_revision_root(&previousRoot, svn_fs_root_fs(root),
                                                  previousRevision, pool))
        return svnFailure(error);
    return at(previousRoot, previousPath.constData(), pool);
}

} // namespace MergeInfoReader
