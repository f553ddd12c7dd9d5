#pragma once

#include "common/Failure.h"
#include "svn/DumpTarget.h"

#include <QtGlobal>

#include <apr_pools.h>
#include <svn_io.h>

class QIODevice;

// Writes one Subversion file into its transaction: its mode (regular,
// executable, symbolic link) and its contents, streamed to the process.
class FileContentsWriter
{
public:
    // With dryRun only the file's entry is written, not its contents; with
    // svnAttributes a file that git holds as text gets LF line ends.
    FileContentsWriter(bool dryRun, bool svnAttributes)
        : m_dryRun(dryRun), m_svnAttributes(svnAttributes)
    {
    }

    Status write(const DumpTarget &file, apr_pool_t *pool) const;

private:
    // With --svn-attributes, a file that git holds as text gets its contents
    // with LF line ends, and their length; others keep theirs.
    static Status normaliseLineEnds(const DumpTarget &file, svn_stream_t **contents,
                                    svn_filesize_t *length, apr_pool_t *pool);
    static Status copyContents(svn_stream_t *contents, QIODevice *device, qint64 length,
                               svn_fs_root_t *root, const char *path, apr_pool_t *pool);
    static Status fillBlob(QIODevice *device, qint64 missing);
    // Writes into the device and waits while more than 32768 bytes are not
    // yet taken by the process; false when the process refuses them.
    static Status writeToDevice(QIODevice *device, const char *data, qint64 length);

    bool m_dryRun;
    bool m_svnAttributes;
};
