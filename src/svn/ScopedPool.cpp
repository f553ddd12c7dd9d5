#include "svn/ScopedPool.h"

#include <svn_pools.h>

ScopedPool::ScopedPool(apr_pool_t *parent)
    : m_pool(svn_pool_create(parent))
{
}

ScopedPool::~ScopedPool()
{
    svn_pool_destroy(m_pool);
}

void ScopedPool::clear()
{
    svn_pool_clear(m_pool);
}
