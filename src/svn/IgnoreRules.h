#pragma once

#include "common/Failure.h"

#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

// The translation of a directory's svn:ignore and svn:global-ignores into
// the text of a .gitignore file.
class IgnoreRules
{
public:
    // The .gitignore text of the directory at path in root; a null text
    // means there is nothing to write.
    static Status read(QString &ignoreText, apr_pool_t *pool, const char *path,
                       svn_fs_root_t *root);
};
