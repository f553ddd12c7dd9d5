#pragma once

#include "common/Failure.h"

#include <QtGlobal>

#include <apr_pools.h>
#include <svn_fs.h>
#include <svn_io.h>

// How git holds a Subversion file: as a regular file, an executable one
// (svn:executable) or a symbolic link (svn:special, with contents "link "
// and the target, of which git holds the target). The converter writes
// files this way and the verifier expects them this way.
class GitFileMode
{
public:
    static const int regular = 0100644;
    static const int executable = 0100755;
    static const int symbolicLink = 0120000;

    // Reads the file's properties. An unreadable svn:executable leaves the
    // file a regular one, with the library's message as a warning.
    static Result<GitFileMode> read(svn_fs_root_t *root, const char *path, apr_pool_t *pool);

    // For an svn:special file, reads the head of its opened contents: after
    // "link " the file is a link and the stream is left at the target;
    // otherwise the contents are opened again from their start and the file
    // keeps its mode (notLink() tells). Nothing for other files.
    Status takeLinkMarker(svn_stream_t **contents, svn_fs_root_t *root, const char *path,
                          apr_pool_t *pool);

    int mode() const { return m_mode; }
    bool special() const { return m_special; }
    bool notLink() const { return m_notLink; }
    // The bytes of the stored contents before what git holds.
    qint64 skipped() const { return m_mode == symbolicLink ? 5 : 0; }

private:
    int m_mode = regular;
    bool m_special = false;
    bool m_notLink = false;
};
