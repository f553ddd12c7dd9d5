#include "verify/FileEntryReader.h"

#include "svn/AttributeTranslation.h"
#include "svn/SvnError.h"

#include <QCryptographicHash>

#include <cstring>

namespace {

const int regularFileMode = 0100644;
const int executableFileMode = 0100755;
const int symbolicLinkMode = 0120000;

// The bounds of what is remembered (each about 200 bytes, twice over). Files
// are remembered mostly for copies of the directories they are in, which
// copy what changed lately.
const qint64 rememberedFiles = 30000;
const qint64 rememberedContents = 30000;

} // namespace

FileEntryReader::FileEntryReader(bool lineEndsToLf)
    : m_lineEndsToLf(lineEndsToLf)
    , m_files(rememberedFiles)
    , m_blobIds(rememberedContents)
{
}

bool FileEntryReader::read(svn_fs_root_t *root, const QByteArray &path, const QByteArray &nodeId,
                           TreeEntry *entry, apr_pool_t *pool)
{
    if (!nodeId.isEmpty()) {
        if (const FileMemo *known = m_files.find(nodeId)) {
            *entry = known->entry;
            return true;
        }
    }
    if (!hashFile(root, path, entry, pool))
        return false;
    if (!nodeId.isEmpty())
        m_files.insert(nodeId, FileMemo{*entry});
    return true;
}

bool FileEntryReader::hashFile(svn_fs_root_t *root, const QByteArray &path, TreeEntry *entry,
                               apr_pool_t *pool)
{
    const char *svnPath = path.constData();
    svn_string_t *executable = nullptr;
    svn_string_t *special = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&executable, root, svnPath, "svn:executable",
                                              pool))
        return printSvnError(error);
    if (svn_error_t *error = svn_fs_node_prop(&special, root, svnPath, "svn:special", pool))
        return printSvnError(error);
    svn_checksum_t *checksum = nullptr;
    if (svn_error_t *error = svn_fs_file_checksum(&checksum, svn_checksum_sha1, root, svnPath,
                                                  TRUE, pool))
        return printSvnError(error);
    const QByteArray contentKey(reinterpret_cast<const char *>(checksum->digest), 20);

    entry->mode = executable ? executableFileMode : regularFileMode;
    if (m_lineEndsToLf && !special) {
        bool normalises = false;
        if (!succeededOrWarned(
                    AttributeTranslation::normalisesLineEnds(&normalises, root, svnPath, pool)))
            return false;
        if (normalises)
            return hashLfFile(root, svnPath, contentKey, entry, pool);
    }
    const BlobMemo *known = m_blobIds.find(contentKey);
    if (known && !special) {
        entry->blobId = known->blobId;
        return true;
    }

    // Hashed as git hashes a blob, in pieces, so that a large file is never
    // held whole. A link's blob is its target, without the leading "link ".
    svn_filesize_t length = 0;
    if (svn_error_t *error = svn_fs_file_length(&length, root, svnPath, pool))
        return printSvnError(error);
    svn_stream_t *contents = nullptr;
    if (svn_error_t *error = svn_fs_file_contents(&contents, root, svnPath, pool))
        return printSvnError(error);
    char buffer[65536];
    apr_size_t got = sizeof buffer;
    if (svn_error_t *error = svn_stream_read_full(contents, buffer, &got))
        return printSvnError(error);
    qint64 skip = 0;
    if (special && got >= 5 && std::memcmp(buffer, "link ", 5) == 0) {
        entry->mode = symbolicLinkMode;
        skip = 5;
    }
    if (known && skip == 0) {
        entry->blobId = known->blobId;
        return true;
    }
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData("blob " + QByteArray::number(qint64(length) - skip) + '\0');
    hash.addData(QByteArrayView(buffer + skip, qsizetype(got) - skip));
    while (got == sizeof buffer) {
        got = sizeof buffer;
        if (svn_error_t *error = svn_stream_read_full(contents, buffer, &got))
            return printSvnError(error);
        hash.addData(QByteArrayView(buffer, qsizetype(got)));
    }
    entry->blobId = hash.result();
    // Links are few; only whole contents are remembered.
    if (skip == 0)
        m_blobIds.insert(contentKey, BlobMemo{entry->blobId});
    return true;
}

bool FileEntryReader::hashLfFile(svn_fs_root_t *root, const char *svnPath,
                                 const QByteArray &contentKey, TreeEntry *entry,
                                 apr_pool_t *pool)
{
    // Kept apart from the same contents stored as they are.
    const QByteArray key = contentKey + "\n";
    if (const BlobMemo *known = m_blobIds.find(key)) {
        entry->blobId = known->blobId;
        return true;
    }
    svn_stream_t *contents = nullptr;
    svn_filesize_t length = 0;
    if (!succeededOrWarned(
                AttributeTranslation::openNormalised(&contents, &length, root, svnPath, pool)))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData("blob " + QByteArray::number(qint64(length)) + '\0');
    char buffer[65536];
    apr_size_t got = sizeof buffer;
    while (got == sizeof buffer) {
        if (svn_error_t *error = svn_stream_read_full(contents, buffer, &got))
            return printSvnError(error);
        hash.addData(QByteArrayView(buffer, qsizetype(got)));
    }
    svn_error_clear(svn_stream_close(contents));
    entry->blobId = hash.result();
    m_blobIds.insert(key, BlobMemo{entry->blobId});
    return true;
}
