#pragma once

#include "common/Failure.h"
#include "svn/MergeInfo.h"

#include <apr_pools.h>
#include <svn_fs.h>

// Reads the merge-tracking properties of Subversion nodes: the value a node
// has in a revision, and the one it had in the revision before.
namespace MergeInfoReader {

// svn:mergeinfo and svnmerge-integrated of the node at path in root; empty
// when there is no such node.
Result<MergeInfo> at(svn_fs_root_t *root, const char *path, apr_pool_t *pool);

// The same for the node in the revision before root's: where it was copied
// from in root's revision (itself or with a parent), else the same path.
Result<MergeInfo> before(svn_fs_root_t *root, const char *path, apr_pool_t *pool);

} // namespace MergeInfoReader
