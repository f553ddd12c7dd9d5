#pragma once

#include <apr_pools.h>

// A Subversion memory pool that lives as long as the enclosing scope. One
// without a parent keeps at most 1 MiB of freed memory for reuse.
class ScopedPool
{
public:
    explicit ScopedPool(apr_pool_t *parent);
    ~ScopedPool();

    ScopedPool(const ScopedPool &) = delete;
    ScopedPool &operator=(const ScopedPool &) = delete;

    apr_pool_t *pool() const { return m_pool; }
    operator apr_pool_t *() const { return m_pool; }
    void clear();

private:
    apr_pool_t *m_pool;
};
