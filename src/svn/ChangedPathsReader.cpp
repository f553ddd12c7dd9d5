#include "svn/ChangedPathsReader.h"

#include <QMap>

#include "svn/SvnError.h"

#include <memory>

#include <svn_props.h>

Result<ChangedPathsReader *> ChangedPathsReader::open(const QString &path)
{
    std::unique_ptr<ChangedPathsReader> reader(new ChangedPathsReader);
    if (svn_error_t *error = reader->m_repository.openAt(path))
        return svnFailureInOneLine(error, QLatin1String("Cannot open the repository ") + path);
    if (svn_error_t *error = reader->m_repository.readLatestRevision())
        return svnFailureInOneLine(error,
                                   QLatin1String("Cannot read the latest revision of ") + path);
    reader->m_revisionPool = std::make_unique<ScopedPool>(reader->m_repository.pool());
    return reader.release();
}

ChangedPathsReader::~ChangedPathsReader() = default;

Result<ChangedPathsReader::Revision> ChangedPathsReader::read(int revision)
{
    m_revisionPool->clear();
    m_root = nullptr;
    m_previousRoot = nullptr;
    const QString context = QStringLiteral("Cannot read revision %1").arg(revision);

    Revision result;
    result.number = revision;
    if (svn_error_t *error = svn_fs_revision_root(&m_root, m_repository.fs(), revision, *m_revisionPool))
        return svnFailureInOneLine(error, context);
    if (revision > 0) {
        if (svn_error_t *error =
                    svn_fs_revision_root(&m_previousRoot, m_repository.fs(), revision - 1, *m_revisionPool))
            return svnFailureInOneLine(error, context);
    }

    svn_string_t *author = nullptr;
    if (svn_error_t *error = svn_fs_revision_prop2(&author, m_repository.fs(), revision,
                                                   SVN_PROP_REVISION_AUTHOR, FALSE,
                                                   *m_revisionPool, *m_revisionPool))
        return svnFailureInOneLine(error, context);
    if (author)
        result.author = QByteArray(author->data, int(author->len));

    svn_fs_path_change_iterator_t *iterator = nullptr;
    if (svn_error_t *error =
                svn_fs_paths_changed3(&iterator, m_root, *m_revisionPool, *m_revisionPool))
        return svnFailureInOneLine(error, context);
    QMap<QByteArray, ChangedPath> ordered;
    for (;;) {
        svn_fs_path_change3_t *change = nullptr;
        if (svn_error_t *error = svn_fs_path_change_get(&change, iterator))
            return svnFailureInOneLine(error, context);
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
            if (svn_error_t *error = svn_fs_check_path(&kind, root, path, *m_revisionPool))
                return svnFailureInOneLine(error, context);
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
                                                       path, *m_revisionPool)) {
        return svnFailureInOneLine(error, context);
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
                svn_fs_node_prop(&value, m_root, path.constData(), name, *m_revisionPool)) {
        svn_error_clear(error);
        return false;
    }
    return value != nullptr;
}

qint64 ChangedPathsReader::fileLength(const QByteArray &path)
{
    svn_filesize_t length = 0;
    if (svn_error_t *error =
                svn_fs_file_length(&length, m_root, path.constData(), *m_revisionPool)) {
        svn_error_clear(error);
        return -1;
    }
    return qint64(length);
}
