#include "svn/ScopedPool.h"

#include <svn_pools.h>

ScopedPool::ScopedPool(apr_pool_t *parent)
    : m_pool(svn_pool_create(parent))
{
    // A pool without a parent has an allocator of its own, which otherwise
    // keeps up to 4 MiB of freed blocks: with a few such pools, what the
    // largest revision needed would stay in memory for the rest of the run.
    // Less than 1 MiB costs time: the blocks are mapped and unmapped anew.
    if (!parent)
        apr_allocator_max_free_set(apr_pool_allocator_get(m_pool), 1024 * 1024);
}

ScopedPool::~ScopedPool()
{
    svn_pool_destroy(m_pool);
}

void ScopedPool::clear()
{
    svn_pool_clear(m_pool);
}
