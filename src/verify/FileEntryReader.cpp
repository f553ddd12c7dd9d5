#include "verify/FileEntryReader.h"

#include "svn/AttributeTranslation.h"
#include "svn/SvnError.h"

#include <QCryptographicHash>

#include <cstring>

namespace {

const int regularFileMode = 0100644;
const int executableFileMode = 0100755;
const int symbolicLinkMode = 0120000;

// The bounds of what is remembered, per generation: about 50 bytes a file,
// 100 a content. Files are remembered for the directories they are in, which
// are read again when they change after their own memo was dropped; so the
// bound holds the files of some hundreds of live branches.
const qint64 rememberedFiles = 40000;
const qint64 rememberedContents = 20000;

FileEntryReader::ContentKey contentKeyOf(const svn_checksum_t *checksum, bool lf)
{
    FileEntryReader::ContentKey key;
    std::memcpy(key.bytes.data(), checksum->digest, 20);
    key.bytes[20] = lf ? 1 : 0;
    return key;
}

} // namespace

FileEntryReader::FileEntryReader(bool lineEndsToLf)
    : m_lineEndsToLf(lineEndsToLf)
    , m_files(rememberedFiles)
    , m_blobIds(rememberedContents)
{
}

quint64 FileEntryReader::nodeKeyOf(const QByteArray &nodeId)
{
    const int r = nodeId.lastIndexOf(".r");
    const int slash = nodeId.lastIndexOf('/');
    if (r < 0 || slash < r)
        return 0;
    bool revisionOk = false;
    bool placeOk = false;
    const quint64 revision = nodeId.mid(r + 2, slash - r - 2).toULongLong(&revisionOk);
    const quint64 place = nodeId.mid(slash + 1).toULongLong(&placeOk);
    if (!revisionOk || !placeOk || revision >= (quint64(1) << 31) || place >= (quint64(1) << 32))
        return 0;
    return (revision + 1) << 32 | place;
}

bool FileEntryReader::read(svn_fs_root_t *root, const QByteArray &path, const QByteArray &nodeId,
                           TreeEntry *entry, apr_pool_t *pool)
{
    const quint64 key = nodeKeyOf(nodeId);
    if (key != 0) {
        if (const FileMemo *known = m_files.find(key)) {
            entry->mode = known->mode;
            entry->blobId = QByteArray(known->blob.data(), int(known->blob.size()));
            entry->tree.reset();
            return true;
        }
    }
    if (!hashFile(root, path, entry, pool))
        return false;
    if (key != 0 && entry->blobId.size() == 20) {
        FileMemo memo;
        memo.mode = entry->mode;
        std::memcpy(memo.blob.data(), entry->blobId.constData(), 20);
        m_files.insert(key, memo);
    }
    return true;
}

void FileEntryReader::rememberBlob(const ContentKey &key, const QByteArray &blobId)
{
    BlobMemo memo;
    std::memcpy(memo.blob.data(), blobId.constData(), 20);
    m_blobIds.insert(key, memo);
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

    entry->mode = executable ? executableFileMode : regularFileMode;
    if (m_lineEndsToLf && !special) {
        bool normalises = false;
        if (!succeededOrWarned(
                    AttributeTranslation::normalisesLineEnds(&normalises, root, svnPath, pool)))
            return false;
        if (normalises)
            return hashLfFile(root, svnPath, contentKeyOf(checksum, true), entry, pool);
    }
    const ContentKey key = contentKeyOf(checksum, false);
    const BlobMemo *found = m_blobIds.find(key);
    const QByteArray known = found ? QByteArray(found->blob.data(), 20) : QByteArray();
    if (found && !special) {
        entry->blobId = known;
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
    if (found && skip == 0) {
        entry->blobId = known;
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
        rememberBlob(key, entry->blobId);
    return true;
}

// The key is kept apart from that of the same contents stored as they are.
bool FileEntryReader::hashLfFile(svn_fs_root_t *root, const char *svnPath, ContentKey key,
                                 TreeEntry *entry, apr_pool_t *pool)
{
    if (const BlobMemo *known = m_blobIds.find(key)) {
        entry->blobId = QByteArray(known->blob.data(), 20);
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
    rememberBlob(key, entry->blobId);
    return true;
}
