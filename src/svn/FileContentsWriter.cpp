// Writing one file, with its mode and its contents, into a transaction.

#include "svn/FileContentsWriter.h"

#include "svn/AttributeTranslation.h"
#include "svn/GitFileMode.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QIODevice>

#include <algorithm>

namespace {

// Unwritten data a device may hold before the writer waits for the reader.
const qint64 maximumPendingBytes = 32768;

// File contents are copied in pieces of this size.
constexpr apr_size_t copyChunkSize = SVN__STREAM_CHUNK_SIZE;

} // namespace

Status FileContentsWriter::write(const DumpTarget &file, apr_pool_t *pool) const
{
    svn_fs_root_t *root = file.root;
    const char *path = file.svnPath.constData();
    ScopedPool filePool(pool);
    const bool dryRun = m_dryRun;

    Result<GitFileMode> mode = GitFileMode::read(root, path, filePool);
    if (!mode)
        return mode.status();

    svn_filesize_t length = 0;
    if (svn_error_t *error = svn_fs_file_length(&length, root, path, filePool))
        return svnFailure(error);

    svn_stream_t *contents = nullptr;
    if (!dryRun) {
        if (svn_error_t *error = svn_fs_file_contents(&contents, root, path, filePool))
            return svnFailure(error);
        if (Status taken = mode.value().takeLinkMarker(&contents, root, path, filePool); !taken)
            return taken;
        if (mode.value().notLink())
            qWarning("file %s is svn:special but not a symlink", path);
        length -= mode.value().skipped();
    }

    if (m_svnAttributes && !mode.value().special() && !dryRun) {
        if (Status status = normaliseLineEnds(file, &contents, &length, filePool); !status)
            return status;
    }

    const Result<QIODevice *> device =
            file.transaction->openFile(file.gitPath, mode.value().mode(), length);
    if (dryRun)
        return Status();
    if (!device) {
        svn_error_clear(svn_stream_close(contents));
        return device.status();
    }
    return copyContents(contents, device.value(), length, root, path, filePool);
}

Status FileContentsWriter::normaliseLineEnds(const DumpTarget &file, svn_stream_t **contents,
                                             svn_filesize_t *length, apr_pool_t *pool)
{
    const char *path = file.svnPath.constData();
    bool normalises = false;
    const Status status =
            AttributeTranslation::normalisesLineEnds(&normalises, file.root, path, pool);
    if (status && !normalises)
        return status;
    // The stored contents are not used any more.
    svn_error_clear(svn_stream_close(*contents));
    *contents = nullptr;
    if (!status)
        return status;
    return AttributeTranslation::openNormalised(contents, length, file.root, path, pool);
}

// Copies exactly the announced length of the file into its blob. Damage in
// the repository shows only while the contents are read (the filesystem
// checks their checksum once it reaches their end), when part of the blob has
// already gone to the process and cannot be taken back. The blob is then
// filled up to its announced length, so that the stream stays well formed,
// and the revision fails before any commit names the blob: the damaged
// contents never become part of a history.
Status FileContentsWriter::copyContents(svn_stream_t *contents, QIODevice *device, qint64 length,
                                        svn_fs_root_t *root, const char *path, apr_pool_t *pool)
{
    char *buffer = static_cast<char *>(apr_palloc(pool, copyChunkSize));
    qint64 remaining = length;
    svn_error_t *error = SVN_NO_ERROR;
    while (remaining > 0 && !error) {
        const apr_size_t wanted = apr_size_t(std::min<qint64>(remaining, copyChunkSize));
        apr_size_t got = wanted;
        error = svn_stream_read_full(contents, buffer, &got);
        if (error)
            break;
        if (Status written = writeToDevice(device, buffer, qint64(got)); !written) {
            svn_error_clear(svn_stream_close(contents));
            return written;
        }
        remaining -= qint64(got);
        if (got < wanted)
            break;
    }

    // Reading on to the end makes the filesystem check the checksum and shows
    // contents longer than announced.
    apr_size_t extra = 0;
    if (!error && remaining == 0) {
        char probe;
        extra = 1;
        error = svn_stream_read_full(contents, &probe, &extra);
    }
    if (!error)
        error = svn_stream_close(contents);
    else
        svn_error_clear(svn_stream_close(contents));

    if (!error && remaining == 0 && extra == 0) {
        device->putChar('\n');
        return Status();
    }

    if (Status filled = fillBlob(device, remaining); !filled)
        return filled;
    const int revision = int(svn_fs_revision_root_revision(root));
    // The cause goes first; the failure names the file that it cost.
    Failure cause;
    if (error)
        cause = svnFailure(error);
    else if (remaining > 0)
        cause << "The contents of" << QString::fromUtf8(path) << "in revision" << revision
              << "end" << remaining << "bytes before their length of" << length;
    else if (extra > 0)
        cause << "The contents of" << QString::fromUtf8(path) << "in revision" << revision
              << "are longer than their length of" << length;
    Failure failure = Failure() << "Cannot read the contents of" << QString::fromUtf8(path)
                                << "in revision" << revision << "; the repository is damaged";
    failure.setCause(cause.cause() + (cause.message().isEmpty()
                                              ? QByteArray()
                                              : cause.message().toLocal8Bit() + '\n'));
    return failure;
}

// Completes a blob whose contents could not be read with zero bytes.
Status FileContentsWriter::fillBlob(QIODevice *device, qint64 missing)
{
    static const char zeros[copyChunkSize] = {};
    while (missing > 0) {
        const qint64 now = std::min<qint64>(missing, copyChunkSize);
        if (Status written = writeToDevice(device, zeros, now); !written)
            return written;
        missing -= now;
    }
    device->putChar('\n');
    return Status();
}

Status FileContentsWriter::writeToDevice(QIODevice *device, const char *data, qint64 length)
{
    device->write(data, length);
    while (device->bytesToWrite() > maximumPendingBytes) {
        if (!device->waitForBytesWritten(-1))
            return Failure() << "Failed to write to process:"
                             << device->errorString().toLocal8Bit().constData();
    }
    return Status();
}
