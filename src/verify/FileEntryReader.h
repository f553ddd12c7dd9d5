#pragma once

#include "common/Failure.h"
#include "verify/FixedCache.h"
#include "verify/ExpectedTree.h"

#include <QByteArray>
#include <QHashFunctions>

#include <array>
#include <cstring>

#include <apr_pools.h>
#include <svn_fs.h>

// The git entry (mode and blob name) of a Subversion file. An entry is
// remembered by the file's node revision, which stays the same across
// copies, and a blob name by Subversion's checksum of the contents, so a
// content is read and hashed about once; both in caches of a fixed size and
// a few dozen bytes an entry, which hold the files of every live branch of
// a long history.
class FileEntryReader
{
public:
    // With lineEndsToLf, a file that --svn-attributes marks as text gets
    // the blob of its contents with LF line ends, as the converter writes it.
    explicit FileEntryReader(bool lineEndsToLf = false);

    // The entry of the file at path in root, whose node revision is nodeId
    // (empty when unknown).
    Status read(svn_fs_root_t *root, const QByteArray &path, const QByteArray &nodeId,
                TreeEntry *entry, apr_pool_t *pool);

    // A node revision as a number: the revision and the place in it that
    // Subversion's id ends with ("...rREV/PLACE"); 0 for an id of another form.
    static quint64 nodeKeyOf(const QByteArray &nodeId);

    // 20 raw bytes of a SHA-1, and whether the contents it names are read
    // with LF line ends.
    struct ContentKey
    {
        std::array<char, 21> bytes{};
        bool operator==(const ContentKey &other) const { return bytes == other.bytes; }
    };

private:
    using Digest = std::array<char, 20>;
    struct FileMemo
    {
        int mode = 0;
        Digest blob{};
    };
    struct BlobMemo
    {
        Digest blob{};
    };

    Status hashFile(svn_fs_root_t *root, const QByteArray &path, TreeEntry *entry,
                    apr_pool_t *pool);
    Status hashLfFile(svn_fs_root_t *root, const char *svnPath, ContentKey key,
                      TreeEntry *entry, apr_pool_t *pool);
    void rememberBlob(const ContentKey &key, const QByteArray &blobId);

    bool m_lineEndsToLf;

    FixedCache<quint64, FileMemo> m_files;
    // Subversion's SHA-1 of a file's contents to the git blob name.
    FixedCache<ContentKey, BlobMemo> m_blobIds;
};

inline size_t qHash(const FileEntryReader::ContentKey &key, size_t seed = 0)
{
    return qHashBits(key.bytes.data(), key.bytes.size(), seed);
}
