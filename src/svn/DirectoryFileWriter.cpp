// Writing .gitignore files and the placeholders of empty directories.

#include "svn/DirectoryFileWriter.h"

#include "svn/DirectoryEntries.h"
#include "svn/IgnoreRules.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QDebug>
#include <QIODevice>

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

void DirectoryFileWriter::writePlaceholder(Repository::Transaction *transaction,
                                           const QString &path) const
{
    // A process that failed fails the commit; the placeholder is lost with it.
    const Result<QIODevice *> device = transaction->openFile(path, placeholderMode, 0);
    if (device && device.value() && !m_dryRun)
        device.value()->putChar('\n');
}

bool DirectoryFileWriter::writeGitignore(const DumpTarget &directory, const char *content,
                                         apr_pool_t *pool) const
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
        if (m_svnIgnore) {
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

QString DirectoryFileWriter::directoryFilePath(const QString &directoryGitPath, const char *name)
{
    if (directoryGitPath == QLatin1String("/"))
        return QString::fromLatin1(name);
    return directoryGitPath + QLatin1String(name);
}

void DirectoryFileWriter::writeDirectoryFile(const DumpTarget &directory, const char *name,
                                             const QByteArray &content) const
{
    const Result<QIODevice *> device = directory.transaction->openFile(
            directoryFilePath(directory.gitPath, name), placeholderMode, content.size());
    if (device && device.value() && !m_dryRun) {
        device.value()->write(content);
        device.value()->putChar('\n');
    }
}

bool DirectoryFileWriter::parentTakesPlaceholder(svn_fs_root_t *root, const QByteArray &svnParent,
                                                 apr_hash_t *entries, const QString &gitPath,
                                                 QString *gitParent, apr_pool_t *pool) const
{
    if (apr_hash_count(entries) > 0)
        return false;
    if (!parentOf(gitPath, gitParent))
        return false;
    if (!m_svnIgnore)
        return true;
    QString ignoreText;
    if (!succeededOrWarned(IgnoreRules::read(ignoreText, pool, svnParent.constData(), root))) {
        qWarning() << "Error fetching svn-properties (" << QString::fromUtf8(svnParent) << ")";
        return false;
    }
    return ignoreText.isNull();
}

bool DirectoryFileWriter::addEmptyDirPlaceholder(const DumpTarget &target,
                                                 apr_pool_t *pool) const
{
    QByteArray svnParent;
    if (!m_emptyDirs || !parentOf(target.svnPath.constData(), &svnParent))
        return false;

    apr_hash_t *entries = nullptr;
    if (svn_error_t *error =
                svn_fs_dir_entries(&entries, target.root, svnParent.constData(), pool)) {
        warnSvnError(error);
        return false;
    }
    QString gitParent;
    if (!parentTakesPlaceholder(target.root, svnParent, entries, target.gitPath, &gitParent,
                                pool))
        return false;

    writePlaceholder(target.transaction, gitParent + QLatin1String("/.gitignore"));
    return true;
}

bool DirectoryFileWriter::removeEmptyDirPlaceholder(const DumpTarget &target,
                                                    apr_pool_t *pool) const
{
    QByteArray svnParent;
    if (!m_emptyDirs || !parentOf(target.svnPath.constData(), &svnParent))
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
    QString gitParent;
    if (!parentTakesPlaceholder(previousRoot, svnParent, entries, target.gitPath, &gitParent,
                                previousPool))
        return false;

    target.transaction->removePath(gitParent + QLatin1String("/.gitignore"));
    return true;
}

void DirectoryFileWriter::addPlaceholdersForEmptySubdirs(const DumpTarget &directory,
                                                         apr_pool_t *pool) const
{
    apr_hash_t *entries = nullptr;
    if (svn_error_t *error =
                svn_fs_dir_entries(&entries, directory.root, directory.svnPath.constData(), pool)) {
        svn_error_clear(error);
        return;
    }
    const QMap<QByteArray, const svn_fs_dirent_t *> sorted = sortedEntries(entries, pool);

    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        if (it.value()->kind != svn_node_dir)
            continue;
        entryPool.clear();
        const DumpTarget subdirectory{
                directory.root, directory.svnPath + '/' + it.key(),
                directory.gitPath + QString::fromUtf8(it.key()) + QLatin1Char('/'),
                directory.transaction};
        if (!writeGitignore(subdirectory, nullptr, entryPool))
            addPlaceholdersForEmptySubdirs(subdirectory, entryPool);
    }
}
