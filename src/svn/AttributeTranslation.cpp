#include "svn/AttributeTranslation.h"

#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <algorithm>
#include <cstring>

#include <apr_hash.h>
#include <svn_subst.h>

namespace {

const char attributesFileName[] = ".gitattributes";

bool isTextEolStyle(const char *eolStyle)
{
    return eolStyle
            && (std::strcmp(eolStyle, "native") == 0 || std::strcmp(eolStyle, "LF") == 0
                || std::strcmp(eolStyle, "CRLF") == 0);
}

bool isBinaryMimeType(const char *mimeType)
{
    return mimeType && std::strncmp(mimeType, "text/", 5) != 0;
}

} // namespace

QByteArray AttributeTranslation::attributesFor(const char *eolStyle, const char *mimeType,
                                               bool *crLineEnds)
{
    *crLineEnds = false;
    QByteArray attributes;
    if (isTextEolStyle(eolStyle)) {
        if (std::strcmp(eolStyle, "native") == 0)
            attributes = "text";
        else if (std::strcmp(eolStyle, "LF") == 0)
            attributes = "text eol=lf";
        else
            attributes = "text eol=crlf";
    } else if (eolStyle && std::strcmp(eolStyle, "CR") == 0) {
        *crLineEnds = true;
    }
    if (isBinaryMimeType(mimeType)) {
        // The text attributes after the macro: the file is marked binary,
        // and its line ends are still translated as Subversion does.
        attributes = attributes.isEmpty() ? QByteArray("binary") : "binary " + attributes;
    }
    return attributes;
}

Status AttributeTranslation::fileAttributes(QByteArray *attributes, bool *crLineEnds,
                                            svn_fs_root_t *root, const char *path,
                                            apr_pool_t *pool)
{
    attributes->clear();
    *crLineEnds = false;
    svn_node_kind_t kind = svn_node_none;
    if (svn_error_t *error = svn_fs_check_path(&kind, root, path, pool))
        return svnFailure(error);
    if (kind != svn_node_file)
        return Status();
    return existingFileAttributes(attributes, crLineEnds, root, path, pool);
}

Status AttributeTranslation::existingFileAttributes(QByteArray *attributes, bool *crLineEnds,
                                                    svn_fs_root_t *root, const char *path,
                                                    apr_pool_t *pool)
{
    svn_string_t *eolStyle = nullptr;
    svn_string_t *mimeType = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&eolStyle, root, path, "svn:eol-style", pool))
        return svnFailure(error);
    if (svn_error_t *error = svn_fs_node_prop(&mimeType, root, path, "svn:mime-type", pool))
        return svnFailure(error);
    *attributes = attributesFor(eolStyle ? eolStyle->data : nullptr,
                                mimeType ? mimeType->data : nullptr, crLineEnds);
    return Status();
}

Status AttributeTranslation::normalisesLineEnds(bool *normalises, svn_fs_root_t *root,
                                                const char *path, apr_pool_t *pool)
{
    svn_string_t *eolStyle = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&eolStyle, root, path, "svn:eol-style", pool))
        return svnFailure(error);
    *normalises = isTextEolStyle(eolStyle ? eolStyle->data : nullptr);
    return Status();
}

Status AttributeTranslation::openNormalised(svn_stream_t **contents, svn_filesize_t *length,
                                            svn_fs_root_t *root, const char *path,
                                            apr_pool_t *pool)
{
    svn_stream_t *stored = nullptr;
    if (svn_error_t *error = svn_fs_file_contents(&stored, root, path, pool))
        return svnFailure(error);
    // Repairing, as a Subversion client writing the file out would.
    svn_stream_t *counted = svn_subst_stream_translated(stored, "\n", TRUE, nullptr, FALSE, pool);
    char *buffer = static_cast<char *>(apr_palloc(pool, SVN__STREAM_CHUNK_SIZE));
    svn_filesize_t total = 0;
    for (;;) {
        apr_size_t got = SVN__STREAM_CHUNK_SIZE;
        if (svn_error_t *error = svn_stream_read_full(counted, buffer, &got)) {
            svn_error_clear(svn_stream_close(counted));
            return svnFailure(error);
        }
        total += svn_filesize_t(got);
        if (got < SVN__STREAM_CHUNK_SIZE)
            break;
    }
    if (svn_error_t *error = svn_stream_close(counted))
        return svnFailure(error);

    if (svn_error_t *error = svn_fs_file_contents(&stored, root, path, pool))
        return svnFailure(error);
    *contents = svn_subst_stream_translated(stored, "\n", TRUE, nullptr, FALSE, pool);
    *length = total;
    return Status();
}

Status AttributeTranslation::readDirectory(DirectoryAttributes *out, svn_fs_root_t *root,
                                           const char *path, apr_pool_t *pool)
{
    *out = DirectoryAttributes();
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, root, path, pool))
        return svnFailure(error);
    QList<QByteArray> files;
    for (apr_hash_index_t *it = apr_hash_first(pool, entries); it; it = apr_hash_next(it)) {
        const void *key = nullptr;
        void *value = nullptr;
        apr_hash_this(it, &key, nullptr, &value);
        if (static_cast<svn_fs_dirent_t *>(value)->kind == svn_node_file)
            files.append(QByteArray(static_cast<const char *>(key)));
    }
    std::sort(files.begin(), files.end());
    if (files.contains(attributesFileName)) {
        out->ownFile = true;
        return Status();
    }

    ScopedPool filePool(pool);
    QByteArray directory(path);
    if (!directory.endsWith('/'))
        directory += '/';
    for (const QByteArray &name : std::as_const(files)) {
        filePool.clear();
        const QByteArray filePath = directory + name;
        QByteArray attributes;
        bool crLineEnds = false;
        if (Status status = existingFileAttributes(&attributes, &crLineEnds, root,
                                                   filePath.constData(), filePool);
            !status)
            return status;
        if (crLineEnds)
            out->carriageReturnFiles.append(filePath);
        if (!attributes.isEmpty())
            out->text += exactPattern(name) + ' ' + attributes + '\n';
    }
    return Status();
}

QByteArray AttributeTranslation::exactPattern(const QByteArray &name)
{
    // Glob characters lose their meaning behind a backslash.
    QByteArray pattern = "/";
    bool needsQuotes = false;
    for (const char c : name) {
        if (c == '*' || c == '?' || c == '[' || c == '\\')
            pattern += '\\';
        pattern += c;
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || c == '"' || byte == 0x7f)
            needsQuotes = true;
    }
    if (!needsQuotes)
        return pattern;

    // A blank would end the pattern: the whole of it goes in double quotes,
    // with backslash, quote and control characters escaped as in C.
    QByteArray quoted = "\"";
    for (const char c : std::as_const(pattern)) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            quoted += '\\';
            quoted += c;
        } else if (byte < ' ' || byte == 0x7f) {
            quoted += '\\';
            quoted += char('0' + ((byte >> 6) & 7));
            quoted += char('0' + ((byte >> 3) & 7));
            quoted += char('0' + (byte & 7));
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}
