#include "svn/GitFileMode.h"

#include "svn/SvnError.h"

#include <cstring>

Result<GitFileMode> GitFileMode::read(svn_fs_root_t *root, const char *path, apr_pool_t *pool)
{
    GitFileMode mode;
    svn_string_t *executable = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&executable, root, path, "svn:executable", pool))
        warnSvnError(error);
    else if (executable)
        mode.m_mode = GitFileMode::executable;
    svn_string_t *special = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&special, root, path, "svn:special", pool))
        return svnFailure(error);
    mode.m_special = special != nullptr;
    return mode;
}

Status GitFileMode::takeLinkMarker(svn_stream_t **contents, svn_fs_root_t *root,
                                   const char *path, apr_pool_t *pool)
{
    if (!m_special || m_mode == symbolicLink || m_notLink)
        return Status();
    char head[5];
    apr_size_t headLength = sizeof head;
    if (svn_error_t *error = svn_stream_read_full(*contents, head, &headLength))
        return svnFailure(error);
    if (headLength == 5 && std::memcmp(head, "link ", 5) == 0) {
        m_mode = symbolicLink;
        return Status();
    }
    m_notLink = true;
    svn_error_clear(svn_stream_close(*contents));
    *contents = nullptr;
    if (svn_error_t *error = svn_fs_file_contents(contents, root, path, pool))
        return svnFailure(error);
    return Status();
}
