#include "svn/ChangedPathsReader.h"

#include <QMap>

#include <memory>

#include <svn_dirent_uri.h>
#include <svn_pools.h>
#include <svn_props.h>
#include <svn_repos.h>

namespace {

// The failure of a Subversion call, in the form the libraries print errors.
Failure failureOf(svn_error_t *error, const QString &context)
{
    char buffer[512];
    const QString text = QString::fromUtf8(svn_err_best_message(error, buffer, sizeof buffer));
    svn_error_clear(error);
    return Failure::fatal(context + QLatin1String(": svn: ") + text);
}

} // namespace

Result<ChangedPathsReader *> ChangedPathsReader::open(const QString &path)
{
    std::unique_ptr<ChangedPathsReader> reader(new ChangedPathsReader);
    reader->m_globalPool = svn_pool_create(nullptr);
    reader->m_revisionPool = svn_pool_create(reader->m_globalPool);

    QString repositoryPath = path;
    while (repositoryPath.size() > 1 && repositoryPath.endsWith(QLatin1Char('/')))
        repositoryPath.chop(1);
    const char *localPath = svn_dirent_canonicalize(repositoryPath.toLocal8Bit().constData(),
                                                    reader->m_revisionPool);
    svn_repos_t *repository = nullptr;
    if (svn_error_t *error = svn_repos_open3(&repository, localPath, nullptr,
                                             reader->m_globalPool, reader->m_revisionPool))
        return failureOf(error, QLatin1String("Cannot open the repository ") + path);
    reader->m_fs = svn_repos_fs(repository);
    svn_revnum_t head = 0;
    if (svn_error_t *error = svn_fs_youngest_rev(&head, reader->m_fs, reader->m_revisionPool))
        return failureOf(error, QLatin1String("Cannot read the latest revision of ") + path);
    reader->m_headRevision = int(head);
    svn_pool_clear(reader->m_revisionPool);
    return reader.release();
}

ChangedPathsReader::~ChangedPathsReader()
{
    svn_pool_destroy(m_globalPool);
}

Result<ChangedPathsReader::Revision> ChangedPathsReader::read(int revision)
{
    svn_pool_clear(m_revisionPool);
    m_root = nullptr;
    m_previousRoot = nullptr;
    const QString context = QStringLiteral("Cannot read revision %1").arg(revision);

    Revision result;
    result.number = revision;
    if (svn_error_t *error = svn_fs_revision_root(&m_root, m_fs, revision, m_revisionPool))
        return failureOf(error, context);
    if (revision > 0) {
        if (svn_error_t *error =
                    svn_fs_revision_root(&m_previousRoot, m_fs, revision - 1, m_revisionPool))
            return failureOf(error, context);
    }

    svn_string_t *author = nullptr;
    if (svn_error_t *error = svn_fs_revision_prop2(&author, m_fs, revision,
                                                   SVN_PROP_REVISION_AUTHOR, FALSE,
                                                   m_revisionPool, m_revisionPool))
        return failureOf(error, context);
    if (author)
        result.author = QByteArray(author->data, int(author->len));

    svn_fs_path_change_iterator_t *iterator = nullptr;
    if (svn_error_t *error =
                svn_fs_paths_changed3(&iterator, m_root, m_revisionPool, m_revisionPool))
        return failureOf(error, context);
    QMap<QByteArray, ChangedPath> ordered;
    for (;;) {
        svn_fs_path_change3_t *change = nullptr;
        if (svn_error_t *error = svn_fs_path_change_get(&change, iterator))
            return failureOf(error, context);
        if (!change)
            break;
        ChangedPath changed;
        const Status status = readChange(change, &changed);
        if (!status)
            return status.failure();
        ordered.insert(changed.path, changed);
    }
    result.changes = ordered.values();
    return result;
}

Status ChangedPathsReader::readChange(const svn_fs_path_change3_t *change, ChangedPath *changed)
{
    changed->path = QByteArray(change->path.data, int(change->path.len));
    changed->kind = change->change_kind;
    changed->textModified = change->text_mod;
    changed->propertiesModified = change->prop_mod;
    const QString context = QLatin1String("Cannot read the change of ")
            + QString::fromUtf8(changed->path);
    const char *path = changed->path.constData();

    const bool deletion = change->change_kind == svn_fs_path_change_delete;
    svn_node_kind_t kind = change->node_kind;
    if (kind != svn_node_dir && kind != svn_node_file) {
        svn_fs_root_t *root = deletion ? m_previousRoot : m_root;
        kind = svn_node_none;
        if (root) {
            if (svn_error_t *error = svn_fs_check_path(&kind, root, path, m_revisionPool))
                return failureOf(error, context);
        }
    }
    changed->isDirectory = kind == svn_node_dir;

    if (deletion)
        return Status();
    svn_revnum_t copyFromRevision = -1;
    const char *copyFromPath = nullptr;
    if (change->copyfrom_known) {
        copyFromRevision = change->copyfrom_rev;
        copyFromPath = change->copyfrom_path;
    } else if (svn_error_t *error = svn_fs_copied_from(&copyFromRevision, &copyFromPath, m_root,
                                                       path, m_revisionPool)) {
        return failureOf(error, context);
    }
    if (copyFromPath) {
        changed->copyFromPath = QByteArray(copyFromPath);
        changed->copyFromRevision = int(copyFromRevision);
    }
    return Status();
}

bool ChangedPathsReader::hasProperty(const QByteArray &path, const char *name)
{
    svn_string_t *value = nullptr;
    if (svn_error_t *error =
                svn_fs_node_prop(&value, m_root, path.constData(), name, m_revisionPool)) {
        svn_error_clear(error);
        return false;
    }
    return value != nullptr;
}

qint64 ChangedPathsReader::fileLength(const QByteArray &path)
{
    svn_filesize_t length = 0;
    if (svn_error_t *error =
                svn_fs_file_length(&length, m_root, path.constData(), m_revisionPool)) {
        svn_error_clear(error);
        return -1;
    }
    return qint64(length);
}
