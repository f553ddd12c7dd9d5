// Writing .gitignore files and the placeholders of empty directories, and
// the check for properties that git cannot carry.

#include "svn/RevisionExporter.h"

#include "svn/IgnoreRules.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QDebug>
#include <QIODevice>

#include <cstring>

#include <apr_hash.h>

namespace {

const int placeholderMode = 0100644;

// The parent of a path: trailing "/" removed, cut before the last "/".
// False when the path has no "/".
template <typename Text, typename Character>
bool findParent(Text path, Character slash, Text *parent)
{
    while (path.endsWith(slash))
        path.chop(1);
    const int position = int(path.lastIndexOf(slash));
    if (position < 0)
        return false;
    *parent = path.left(position);
    return true;
}

bool parentOf(const char *path, QByteArray *parent)
{
    return findParent(QByteArray(path), '/', parent);
}

bool parentOf(const QString &path, QString *parent)
{
    return findParent(path, QLatin1Char('/'), parent);
}

} // namespace

void RevisionExporter::writePlaceholder(Repository::Transaction *transaction,
                                        const QString &path)
{
    // A process that failed fails the commit; the placeholder is lost with it.
    const Result<QIODevice *> device = transaction->openFile(path, placeholderMode, 0);
    if (device && device.value() && !m_options.dryRun)
        device.value()->putChar('\n');
}

bool RevisionExporter::writeGitignore(const DumpTarget &directory, const char *content,
                                      apr_pool_t *pool)
{
    const char *path = directory.svnPath.constData();
    if (!content) {
        apr_hash_t *entries = nullptr;
        if (svn_error_t *error = svn_fs_dir_entries(&entries, directory.root, path, pool)) {
            warnSvnError(error);
            return false;
        }
        if (apr_hash_count(entries) > 0)
            return false;
        if (m_options.svnIgnore) {
            QString ignoreText;
            if (!succeededOrWarned(IgnoreRules::read(ignoreText, pool, path, directory.root))) {
                qWarning() << "Error fetching svn-properties (" << path << ")";
                return false;
            }
            if (!ignoreText.isNull())
                return false;
        }
    }

    if (content) {
        writeDirectoryFile(directory, ".gitignore", QByteArray(content));
        return true;
    }

    // No placeholder at a branch root given as "/".
    if (directory.gitPath == QLatin1String("/"))
        return false;
    writePlaceholder(directory.transaction, directoryFilePath(directory.gitPath, ".gitignore"));
    return true;
}

QString RevisionExporter::directoryFilePath(const QString &directoryGitPath, const char *name)
{
    if (directoryGitPath == QLatin1String("/"))
        return QString::fromLatin1(name);
    return directoryGitPath + QLatin1String(name);
}

void RevisionExporter::writeDirectoryFile(const DumpTarget &directory, const char *name,
                                          const QByteArray &content)
{
    const Result<QIODevice *> device = directory.transaction->openFile(
            directoryFilePath(directory.gitPath, name), placeholderMode, content.size());
    if (device && device.value() && !m_options.dryRun) {
        device.value()->write(content);
        device.value()->putChar('\n');
    }
}

bool RevisionExporter::addEmptyDirPlaceholder(const DumpTarget &target, apr_pool_t *pool)
{
    if (!m_options.emptyDirs)
        return false;
    QByteArray svnParent;
    if (!parentOf(target.svnPath.constData(), &svnParent))
        return false;

    apr_hash_t *entries = nullptr;
    if (svn_error_t *error =
                svn_fs_dir_entries(&entries, target.root, svnParent.constData(), pool)) {
        warnSvnError(error);
        return false;
    }
    if (apr_hash_count(entries) > 0)
        return false;

    QString gitParent;
    if (!parentOf(target.gitPath, &gitParent))
        return false;

    if (m_options.svnIgnore) {
        QString ignoreText;
        if (!succeededOrWarned(
                    IgnoreRules::read(ignoreText, pool, svnParent.constData(), target.root))) {
            qWarning() << "Error fetching svn-properties (" << QString::fromUtf8(svnParent)
                       << ")";
            return false;
        }
        if (!ignoreText.isNull())
            return false;
    }

    writePlaceholder(target.transaction, gitParent + QLatin1String("/.gitignore"));
    return true;
}

bool RevisionExporter::removeEmptyDirPlaceholder(const DumpTarget &target, apr_pool_t *pool)
{
    if (!m_options.emptyDirs)
        return false;
    QByteArray svnParent;
    if (!parentOf(target.svnPath.constData(), &svnParent))
        return false;

    // Whether the parent had a placeholder is read from the previous revision.
    ScopedPool previousPool(pool);
    svn_fs_root_t *previousRoot = nullptr;
    if (svn_error_t *error = svn_fs_revision_root(&previousRoot, m_fs, m_revision - 1,
                                                  previousPool)) {
        svn_error_clear(error);
        return false;
    }
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, previousRoot, svnParent.constData(),
                                                previousPool)) {
        svn_error_clear(error);
        return false;
    }
    if (apr_hash_count(entries) > 0)
        return false;

    QString gitParent;
    if (!parentOf(target.gitPath, &gitParent))
        return false;

    if (m_options.svnIgnore) {
        QString ignoreText;
        if (!succeededOrWarned(IgnoreRules::read(ignoreText, previousPool,
                                                 svnParent.constData(), previousRoot))) {
            qWarning() << "Error fetching svn-properties (" << QString::fromUtf8(svnParent)
                       << ")";
            return false;
        }
        if (!ignoreText.isNull())
            return false;
    }

    target.transaction->removePath(gitParent + QLatin1String("/.gitignore"));
    return true;
}

Status RevisionExporter::warnUnknownProperties(apr_pool_t *pool, const char *path,
                                               svn_fs_root_t *root)
{
    apr_hash_t *properties = nullptr;
    if (svn_error_t *error = svn_fs_node_proplist(&properties, root, path, pool))
        return svnFailure(error);
    for (apr_hash_index_t *it = apr_hash_first(pool, properties); it; it = apr_hash_next(it)) {
        const void *key = nullptr;
        void *value = nullptr;
        apr_hash_this(it, &key, nullptr, &value);
        const char *name = static_cast<const char *>(key);
        if (std::strcmp(name, "svn:ignore") == 0 || std::strcmp(name, "svn:global-ignores") == 0
            || std::strcmp(name, "svn:mergeinfo") == 0)
            continue;
        qWarning() << "WARN: Unknown svn-property" << name << "set to"
                   << static_cast<const svn_string_t *>(value)->data << "for" << path;
    }
    return Status();
}
