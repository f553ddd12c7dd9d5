#pragma once

#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

// A Subversion repository opened for reading: owns the pool its filesystem
// lives in. For programs that read a repository without converting it.
class SvnRepository
{
public:
    SvnRepository() = default;
    ~SvnRepository();

    SvnRepository(const SvnRepository &) = delete;
    SvnRepository &operator=(const SvnRepository &) = delete;

    // Opens the repository directory at path; false (with the library's
    // message written) when it cannot be opened. Initialises APR once.
    bool open(const QString &path);

    svn_fs_t *fs() const { return m_fs; }
    apr_pool_t *pool() const { return m_pool; }
    int youngestRevision() const { return m_youngest; }

private:
    apr_pool_t *m_pool = nullptr;
    svn_fs_t *m_fs = nullptr;
    int m_youngest = 0;
};
