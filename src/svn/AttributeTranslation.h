#pragma once

#include "common/Failure.h"

#include <QByteArray>
#include <QList>

#include <apr_pools.h>
#include <svn_fs.h>
#include <svn_io.h>

// svn:eol-style and svn:mime-type as .gitattributes lines: one line per file
// of a directory, its pattern naming that file alone.
class AttributeTranslation
{
public:
    // The generated .gitattributes of one directory.
    struct DirectoryAttributes
    {
        // The lines, each ending with a line feed; empty when no file needs one.
        QByteArray text;
        // Subversion holds a .gitattributes of its own in the directory; the
        // text is then empty.
        bool ownFile = false;
        // Files whose svn:eol-style CR git cannot express: they get no line.
        QList<QByteArray> carriageReturnFiles;
    };

    // The attributes of the file at path in root, without pattern: empty
    // when it needs none. crLineEnds tells whether its eol-style is CR.
    // A path that does not exist needs none.
    static Status fileAttributes(QByteArray *attributes, bool *crLineEnds, svn_fs_root_t *root,
                                 const char *path, apr_pool_t *pool);

    // The .gitattributes for the directory at path in root.
    static Status readDirectory(DirectoryAttributes *out, svn_fs_root_t *root, const char *path,
                                apr_pool_t *pool);

    // The pattern that matches the file name in its directory and nothing
    // else: anchored with "/", glob characters escaped, and quoted in C style
    // when the name holds blanks, quotes or control characters.
    static QByteArray exactPattern(const QByteArray &name);

    // Whether git keeps the file with LF line ends: its svn:eol-style gives
    // it the text attribute. Subversion stores such a file with the line ends
    // of its style (CRLF for CRLF), which git would see as changed.
    static Status normalisesLineEnds(bool *normalises, svn_fs_root_t *root, const char *path,
                                     apr_pool_t *pool);
    // The contents of such a file with every line end made a LF, and their
    // length. They are read twice: once to count, once for the caller.
    static Status openNormalised(svn_stream_t **contents, svn_filesize_t *length,
                                 svn_fs_root_t *root, const char *path, apr_pool_t *pool);

    // The attributes for an svn:eol-style and an svn:mime-type value (either
    // may be null).
    static QByteArray attributesFor(const char *eolStyle, const char *mimeType, bool *crLineEnds);

private:
    static Status existingFileAttributes(QByteArray *attributes, bool *crLineEnds,
                                         svn_fs_root_t *root, const char *path,
                                         apr_pool_t *pool);
};
