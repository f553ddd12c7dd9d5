#pragma once

#include <QByteArray>
#include <QMap>

#include <apr_hash.h>
#include <svn_fs.h>

// The entries of a directory listing, ordered byte-wise by name. The entries
// live in the listing's pool.
QMap<QByteArray, const svn_fs_dirent_t *> sortedEntries(apr_hash_t *entries, apr_pool_t *pool);
