#pragma once

#include "common/Failure.h"
#include "svn/ScopedPool.h"

#include <QString>

#include <memory>

#include <apr_pools.h>
#include <svn_fs.h>

// A Subversion repository opened for reading, the one way this program opens
// one. Owns the pool its filesystem lives in. Its calls answer in the
// libraries' own way, with the error for the caller to wrap in its context.
class SvnRepository
{
public:
    SvnRepository();

    SvnRepository(const SvnRepository &) = delete;
    SvnRepository &operator=(const SvnRepository &) = delete;

    // Opens the repository directory at path, in any form the user may give
    // it ("repo/", "a//b"). Expects the libraries initialised; opens once.
    [[nodiscard]] svn_error_t *openAt(const QString &path);
    [[nodiscard]] svn_error_t *readLatestRevision();

    // Initialises the libraries, opens the repository and reads its latest
    // revision.
    Status open(const QString &path);

    svn_fs_t *fs() const { return m_fs; }
    apr_pool_t *pool() const { return m_pool ? m_pool->pool() : nullptr; }
    int youngestRevision() const { return m_youngest; }

private:
    // Made when the repository is opened, once the libraries are set up.
    std::unique_ptr<ScopedPool> m_pool;
    svn_fs_t *m_fs = nullptr;
    int m_youngest = 0;
};
