#include "verify/FileEntryReader.h"

#include "svn/AttributeTranslation.h"
#include "svn/GitFileMode.h"
#include "svn/SvnError.h"

#include <QCryptographicHash>

#include <cstring>

namespace {

// What is remembered: 2^18 files of 40 bytes and 2^16 contents of 48. Files
// are remembered for the directories they are in, which are read again when
// they change after their own memo was dropped; so this holds the files of
// the live branches of a long history (about 100,000 distinct ones in one of
// 100,000 revisions with 800 live branches), and the bound is its memory
// from the start.
const int rememberedFilesLog2 = 18;
const int rememberedContentsLog2 = 16;

FileEntryReader::ContentKey contentKeyOf(const svn_checksum_t *checksum, bool lf)
{
    FileEntryReader::ContentKey key;
    std::memcpy(key.bytes.data(), checksum->digest, 20);
    key.bytes[20] = lf ? 1 : 0;
    return key;
}

// Git's name of the blob of the length bytes that contents give, hashed in
// pieces as git hashes a blob, so that a large file is never held whole.
Result<QByteArray> blobIdOf(svn_stream_t *contents, qint64 length)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData("blob " + QByteArray::number(length) + '\0');
    char buffer[65536];
    apr_size_t got = sizeof buffer;
    while (got == sizeof buffer) {
        if (svn_error_t *error = svn_stream_read_full(contents, buffer, &got))
            return svnFailure(error);
        hash.addData(QByteArrayView(buffer, qsizetype(got)));
    }
    return hash.result();
}

} // namespace

FileEntryReader::FileEntryReader(bool lineEndsToLf)
    : m_lineEndsToLf(lineEndsToLf)
    , m_files(rememberedFilesLog2)
    , m_blobIds(rememberedContentsLog2)
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

Status FileEntryReader::read(svn_fs_root_t *root, const QByteArray &path,
                             const QByteArray &nodeId, TreeEntry *entry, apr_pool_t *pool)
{
    const quint64 key = nodeKeyOf(nodeId);
    if (key != 0) {
        if (const FileMemo *known = m_files.find(key)) {
            entry->mode = known->mode;
            entry->blobId = QByteArray(known->blob.data(), int(known->blob.size()));
            entry->tree.reset();
            return Status();
        }
    }
    if (Status hashed = hashFile(root, path, entry, pool); !hashed)
        return hashed;
    if (key != 0 && entry->blobId.size() == 20) {
        FileMemo memo;
        memo.mode = entry->mode;
        std::memcpy(memo.blob.data(), entry->blobId.constData(), 20);
        m_files.insert(key, memo);
    }
    return Status();
}

void FileEntryReader::rememberBlob(const ContentKey &key, const QByteArray &blobId)
{
    BlobMemo memo;
    std::memcpy(memo.blob.data(), blobId.constData(), 20);
    m_blobIds.insert(key, memo);
}

Status FileEntryReader::hashFile(svn_fs_root_t *root, const QByteArray &path, TreeEntry *entry,
                                 apr_pool_t *pool)
{
    const char *svnPath = path.constData();
    Result<GitFileMode> mode = GitFileMode::read(root, svnPath, pool);
    if (!mode)
        return mode.status();
    svn_checksum_t *checksum = nullptr;
    if (svn_error_t *error = svn_fs_file_checksum(&checksum, svn_checksum_sha1, root, svnPath,
                                                  TRUE, pool))
        return svnFailure(error);

    entry->mode = mode.value().mode();
    const bool special = mode.value().special();
    if (m_lineEndsToLf && !special) {
        bool normalises = false;
        if (Status read = AttributeTranslation::normalisesLineEnds(&normalises, root, svnPath,
                                                                   pool);
            !read)
            return read;
        if (normalises)
            return hashLfFile(root, svnPath, contentKeyOf(checksum, true), entry, pool);
    }
    const ContentKey key = contentKeyOf(checksum, false);
    const BlobMemo *found = m_blobIds.find(key);
    const QByteArray known = found ? QByteArray(found->blob.data(), 20) : QByteArray();
    if (found && !special) {
        entry->blobId = known;
        return Status();
    }

    svn_filesize_t length = 0;
    if (svn_error_t *error = svn_fs_file_length(&length, root, svnPath, pool))
        return svnFailure(error);
    svn_stream_t *contents = nullptr;
    if (svn_error_t *error = svn_fs_file_contents(&contents, root, svnPath, pool))
        return svnFailure(error);
    if (Status taken = mode.value().takeLinkMarker(&contents, root, svnPath, pool); !taken)
        return taken;
    entry->mode = mode.value().mode();
    const qint64 skipped = mode.value().skipped();
    if (found && skipped == 0) {
        entry->blobId = known;
        return Status();
    }
    Result<QByteArray> blobId = blobIdOf(contents, qint64(length) - skipped);
    if (!blobId)
        return blobId.status();
    entry->blobId = blobId.value();
    // Links are few; only whole contents are remembered.
    if (skipped == 0)
        rememberBlob(key, entry->blobId);
    return Status();
}

// The key is kept apart from that of the same contents stored as they are.
Status FileEntryReader::hashLfFile(svn_fs_root_t *root, const char *svnPath, ContentKey key,
                                   TreeEntry *entry, apr_pool_t *pool)
{
    if (const BlobMemo *known = m_blobIds.find(key)) {
        entry->blobId = QByteArray(known->blob.data(), 20);
        return Status();
    }
    svn_stream_t *contents = nullptr;
    svn_filesize_t length = 0;
    if (Status opened =
                AttributeTranslation::openNormalised(&contents, &length, root, svnPath, pool);
        !opened)
        return opened;
    Result<QByteArray> blobId = blobIdOf(contents, qint64(length));
    if (!blobId)
        return blobId.status();
    svn_error_clear(svn_stream_close(contents));
    entry->blobId = blobId.value();
    rememberBlob(key, entry->blobId);
    return Status();
}
