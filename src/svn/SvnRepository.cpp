#include "svn/SvnRepository.h"

#include "svn/SvnError.h"
#include "svn/SvnSource.h"

#include <svn_dirent_uri.h>
#include <svn_repos.h>

SvnRepository::SvnRepository() = default;

svn_error_t *SvnRepository::openAt(const QString &path)
{
    QString repositoryPath = path;
    while (repositoryPath.size() > 1 && repositoryPath.endsWith(QLatin1Char('/')))
        repositoryPath.chop(1);
    m_pool = std::make_unique<ScopedPool>(nullptr);
    ScopedPool scratch(m_pool->pool());
    // The libraries insist on canonical paths ("a//b" or "a/./b" would trip
    // their assertions), so the path is put in canonical form first.
    const char *localPath =
            svn_dirent_canonicalize(repositoryPath.toLocal8Bit().constData(), scratch);
    svn_repos_t *repository = nullptr;
    SVN_ERR(svn_repos_open3(&repository, localPath, nullptr, *m_pool, scratch));
    m_fs = svn_repos_fs(repository);
    return SVN_NO_ERROR;
}

svn_error_t *SvnRepository::readLatestRevision()
{
    ScopedPool scratch(m_pool->pool());
    svn_revnum_t youngest = 0;
    SVN_ERR(svn_fs_youngest_rev(&youngest, m_fs, scratch));
    m_youngest = int(youngest);
    return SVN_NO_ERROR;
}

Status SvnRepository::open(const QString &path)
{
    if (Status initialised = SvnSource::initializeSvnLibraries(); !initialised)
        return initialised;
    if (svn_error_t *error = openAt(path))
        return svnFailure(error);
    if (svn_error_t *error = readLatestRevision())
        return svnFailure(error);
    return Status();
}
