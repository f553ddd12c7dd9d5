#include "svn/DirectoryEntries.h"

QMap<QByteArray, const svn_fs_dirent_t *> sortedEntries(apr_hash_t *entries, apr_pool_t *pool)
{
    QMap<QByteArray, const svn_fs_dirent_t *> sorted;
    for (apr_hash_index_t *it = apr_hash_first(pool, entries); it; it = apr_hash_next(it)) {
        const void *key = nullptr;
        void *value = nullptr;
        apr_hash_this(it, &key, nullptr, &value);
        sorted.insert(QByteArray(static_cast<const char *>(key)),
                      static_cast<const svn_fs_dirent_t *>(value));
    }
    return sorted;
}
