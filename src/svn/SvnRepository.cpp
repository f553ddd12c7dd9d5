#include "svn/SvnRepository.h"

#include "svn/SvnError.h"
#include "svn/SvnSource.h"

#include <svn_dirent_uri.h>
#include <svn_pools.h>
#include <svn_repos.h>

SvnRepository::~SvnRepository()
{
    if (m_pool)
        svn_pool_destroy(m_pool);
}

bool SvnRepository::open(const QString &path)
{
    if (!SvnSource::initializeSvnLibraries().ok())
        return false;
    m_pool = svn_pool_create(nullptr);
    QString repositoryPath = path;
    while (repositoryPath.endsWith(QLatin1Char('/')) && repositoryPath.size() > 1)
        repositoryPath.chop(1);
    // The libraries assert on paths that are not canonical.
    const char *localPath =
            svn_dirent_canonicalize(repositoryPath.toLocal8Bit().constData(), m_pool);
    svn_repos_t *repository = nullptr;
    if (svn_error_t *error = svn_repos_open3(&repository, localPath, nullptr, m_pool, m_pool)) {
        reportSvnError(error);
        return false;
    }
    m_fs = svn_repos_fs(repository);
    svn_revnum_t youngest = 0;
    if (svn_error_t *error = svn_fs_youngest_rev(&youngest, m_fs, m_pool)) {
        reportSvnError(error);
        return false;
    }
    m_youngest = int(youngest);
    return true;
}
