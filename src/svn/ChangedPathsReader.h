#pragma once

#include "common/Failure.h"
#include "svn/ScopedPool.h"
#include "svn/SvnRepository.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

#include <apr_pools.h>
#include <svn_fs.h>

// Reads a Subversion repository's history revision by revision: the changed
// paths with their node kinds and copy sources, the author, and on request
// node properties and file lengths. It reads no file contents, so a whole
// history goes by quickly; each revision's memory is released before the
// next one is read.
class ChangedPathsReader
{
public:
    struct ChangedPath
    {
        QByteArray path;
        svn_fs_path_change_kind_t kind = svn_fs_path_change_modify;
        // For a deletion: what the path was before it.
        bool isDirectory = false;
        bool textModified = false;
        bool propertiesModified = false;
        QByteArray copyFromPath; // empty: no copy source
        int copyFromRevision = -1;
    };

    struct Revision
    {
        int number = 0;
        QByteArray author;
        // Ordered byte-wise by path, as the converter visits them.
        QList<ChangedPath> changes;
    };

    // Opens the repository at path; the failure names the path.
    static Result<ChangedPathsReader *> open(const QString &path);
    ~ChangedPathsReader();

    ChangedPathsReader(const ChangedPathsReader &) = delete;
    ChangedPathsReader &operator=(const ChangedPathsReader &) = delete;

    int latestRevision() const { return m_repository.youngestRevision(); }
    svn_fs_t *filesystem() const { return m_repository.fs(); }
    // Lives as long as the reader.
    apr_pool_t *pool() const { return m_repository.pool(); }

    // Reads one revision; what it allocates lives until the next call.
    Result<Revision> read(int revision);

    // Of the revision last read: whether a node carries the property, and a
    // file's length in bytes (-1 when it cannot be read).
    bool hasProperty(const QByteArray &path, const char *name);
    qint64 fileLength(const QByteArray &path);

private:
    ChangedPathsReader() = default;
    Status readChange(const svn_fs_path_change3_t *change, ChangedPath *changed);

    SvnRepository m_repository;
    std::unique_ptr<ScopedPool> m_revisionPool;
    svn_fs_root_t *m_root = nullptr;
    svn_fs_root_t *m_previousRoot = nullptr;
};
