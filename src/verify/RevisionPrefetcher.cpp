#include "verify/RevisionPrefetcher.h"

#include "svn/ScopedPool.h"
#include "svn/SvnRepository.h"

#include <svn_fs.h>

namespace {

// How far reading may run ahead of the walk: far enough to keep the thread
// busy, near enough that what it read is still in the caches. Subversion's
// cache takes new items into a part of its own, a quarter or so of it, and
// keeps them only when they are used before that part is full: on a long
// history, 16 revisions ahead was too far for a cache of 32 MiB.
const int revisionsAhead = 4;

// Contents up to this size are read ahead whole: Subversion's cache keeps
// such texts, so the walk finds a changed file's text there when it hashes
// it. Larger ones would not stay in the cache and are left to the walk.
const svn_filesize_t largestContentAhead = 64 * 1024;

// Reads the text of a small file through, to be thrown away.
svn_error_t *readSmallContents(svn_fs_root_t *root, const char *path, apr_pool_t *pool)
{
    svn_filesize_t length = 0;
    SVN_ERR(svn_fs_file_length(&length, root, path, pool));
    if (length > largestContentAhead)
        return SVN_NO_ERROR;
    svn_stream_t *contents = nullptr;
    SVN_ERR(svn_fs_file_contents(&contents, root, path, pool));
    char buffer[16384];
    apr_size_t got = sizeof buffer;
    while (got == sizeof buffer)
        SVN_ERR(svn_stream_read_full(contents, buffer, &got));
    return svn_stream_close(contents);
}

// Reads what a revision changed; false when Subversion reports an error.
bool readChanges(svn_fs_t *fs, int revision, apr_pool_t *pool)
{
    svn_fs_root_t *root = nullptr;
    svn_fs_path_change_iterator_t *iterator = nullptr;
    svn_error_t *error = svn_fs_revision_root(&root, fs, revision, pool);
    if (!error)
        error = svn_fs_paths_changed3(&iterator, root, pool, pool);
    ScopedPool changePool(pool);
    while (!error) {
        changePool.clear();
        svn_fs_path_change3_t *change = nullptr;
        error = svn_fs_path_change_get(&change, iterator);
        if (error || !change)
            break;
        if (change->change_kind == svn_fs_path_change_delete)
            continue;
        svn_node_kind_t kind = svn_node_none;
        error = svn_fs_check_path(&kind, root, change->path.data, changePool);
        if (error || kind != svn_node_file)
            continue;
        apr_hash_t *properties = nullptr;
        svn_checksum_t *checksum = nullptr;
        error = svn_fs_node_proplist(&properties, root, change->path.data, changePool);
        if (!error)
            error = svn_fs_file_checksum(&checksum, svn_checksum_sha1, root, change->path.data,
                                         FALSE, changePool);
        if (!error && change->text_mod)
            error = readSmallContents(root, change->path.data, changePool);
    }
    if (!error)
        return true;
    svn_error_clear(error);
    return false;
}

} // namespace

RevisionPrefetcher::~RevisionPrefetcher()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void RevisionPrefetcher::start(const QString &path, int first, int last)
{
    m_reached = first;
    m_thread = std::thread([this, path, first, last] { run(path, first, last); });
}

void RevisionPrefetcher::reached(int revision)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (revision <= m_reached)
            return;
        m_reached = revision;
    }
    m_wake.notify_all();
}

bool RevisionPrefetcher::waitFor(int revision)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [&] { return m_stop || revision <= m_reached + revisionsAhead; });
    return !m_stop;
}

void RevisionPrefetcher::run(const QString &path, int first, int last)
{
    SvnRepository repository;
    if (!repository.open(path))
        return;
    ScopedPool pool(repository.pool());
    for (int revision = first; revision <= last && waitFor(revision); ++revision) {
        pool.clear();
        if (!readChanges(repository.fs(), revision, pool))
            return;
    }
}
