#pragma once

#include "verify/BoundedCache.h"
#include "verify/ExpectedTree.h"

#include <QByteArray>

#include <apr_pools.h>
#include <svn_fs.h>

// The git entry (mode and blob name) of a Subversion file. An entry is
// remembered by the file's node revision, which stays the same across
// copies, and a blob name by Subversion's checksum of the contents, so a
// content is read and hashed about once; both in bounded caches.
class FileEntryReader
{
public:
    // With lineEndsToLf, a file that --svn-attributes marks as text gets
    // the blob of its contents with LF line ends, as the converter writes it.
    explicit FileEntryReader(bool lineEndsToLf = false);

    // The entry of the file at path in root, whose node revision is nodeId
    // (empty when unknown). False when Subversion cannot be read.
    bool read(svn_fs_root_t *root, const QByteArray &path, const QByteArray &nodeId,
              TreeEntry *entry, apr_pool_t *pool);

private:
    struct FileMemo
    {
        TreeEntry entry;
        qint64 weight() const { return 1; }
    };
    struct BlobMemo
    {
        QByteArray blobId;
        qint64 weight() const { return 1; }
    };

    bool hashFile(svn_fs_root_t *root, const QByteArray &path, TreeEntry *entry,
                  apr_pool_t *pool);
    bool hashLfFile(svn_fs_root_t *root, const char *svnPath, const QByteArray &contentKey,
                    TreeEntry *entry, apr_pool_t *pool);

    bool m_lineEndsToLf;

    BoundedCache<QByteArray, FileMemo> m_files;
    // Subversion's SHA-1 of a file's contents to the git blob name.
    BoundedCache<QByteArray, BlobMemo> m_blobIds;
};
