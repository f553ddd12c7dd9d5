#pragma once

#include "repository/Repository.h"
#include "svn/ChangedPathTable.h"
#include "svn/DumpTarget.h"

#include <QByteArray>
#include <QPair>
#include <QSet>
#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

class DirectoryFileWriter;

// Keeps the generated .gitattributes of every directory of one revision in
// step with the line-end and mime-type properties of its files.
class AttributeFileWriter
{
public:
    // Writes nothing unless enabled. The previous revision's root, when
    // needed, is opened in revisionPool.
    AttributeFileWriter(bool enabled, svn_fs_t *fs, int revision, apr_pool_t *revisionPool,
                        const DirectoryFileWriter &directoryFiles)
        : m_enabled(enabled)
        , m_fs(fs)
        , m_revision(revision)
        , m_revisionPool(revisionPool)
        , m_directoryFiles(directoryFiles)
    {
    }

    // The revision's root, once it is open.
    void setRevisionRoot(svn_fs_root_t *root) { m_root = root; }
    // The paths already warned about over the whole run, so that each
    // warning comes once; without it every revision warns anew.
    void setWarnedPaths(QSet<QByteArray> *warned) { m_warnedPaths = warned; }

    // Writes the directory's generated .gitattributes, or removes it when no
    // file needs a line (unless the directory was just written afresh).
    void writeGitattributes(const DumpTarget &directory, bool fresh, apr_pool_t *pool);
    // After the file at target was added, changed or removed (or replaced
    // by a directory): its directory's .gitattributes, if the file's line
    // changed.
    void updateGitattributes(const DumpTarget &file, const PathChange &change,
                             apr_pool_t *pool);

private:
    // Whether the attributes of the file at path may differ from those it
    // had in git before this change. False when they cannot be read.
    bool fileLineChanged(const QByteArray &path, svn_fs_path_change_kind_t change,
                         apr_pool_t *pool);
    bool firstWarningFor(const QByteArray &path);

    bool m_enabled;
    svn_fs_t *m_fs;
    int m_revision;
    apr_pool_t *m_revisionPool;
    const DirectoryFileWriter &m_directoryFiles;
    svn_fs_root_t *m_root = nullptr;
    QSet<QByteArray> *m_warnedPaths = nullptr;
    // The directories whose .gitattributes this revision has settled.
    QSet<QPair<Repository::Transaction *, QString>> m_written;
    svn_fs_root_t *m_previousRoot = nullptr;
};
