#pragma once

#include "repository/Repository.h"
#include "svn/DumpTarget.h"
#include "svn/ExportOptions.h"

#include <QByteArray>
#include <QString>

#include <apr_hash.h>
#include <apr_pools.h>
#include <svn_fs.h>

// Writes the files git gets for a directory of one revision: its .gitignore
// from the ignore properties, the placeholders of empty directories and
// other generated files.
class DirectoryFileWriter
{
public:
    DirectoryFileWriter(svn_fs_t *fs, int revision, const ExportOptions &options)
        : m_fs(fs)
        , m_revision(revision)
        , m_dryRun(options.dryRun)
        , m_svnIgnore(options.svnIgnore)
        , m_emptyDirs(options.emptyDirs)
    {
    }

    // Writes the directory's .gitignore with content or, when content is
    // null, a placeholder if the directory is empty and has no ignore rules.
    // Whether a file was written; an unreadable directory gets none.
    bool writeGitignore(const DumpTarget &directory, const char *content,
                        apr_pool_t *pool) const;
    // Gives every empty directory below the directory a placeholder.
    void addPlaceholdersForEmptySubdirs(const DumpTarget &directory, apr_pool_t *pool) const;
    // After target went away: a placeholder for its parent if that is empty
    // now. Whether one was written.
    bool addEmptyDirPlaceholder(const DumpTarget &target, apr_pool_t *pool) const;
    // After target came: the placeholder of its parent removed if the parent
    // was empty in the previous revision. Whether one was removed.
    bool removeEmptyDirPlaceholder(const DumpTarget &target, apr_pool_t *pool) const;
    // Writes a generated file of the directory (.gitignore, .gitattributes).
    void writeDirectoryFile(const DumpTarget &directory, const char *name,
                            const QByteArray &content) const;
    // The git path of a file of the directory with that git path.
    static QString directoryFilePath(const QString &directoryGitPath, const char *name);

private:
    void writePlaceholder(Repository::Transaction *transaction, const QString &path) const;
    // Whether the parent directory at svnParent in root, with these entries,
    // takes a placeholder: it is empty and has no ignore rules that are
    // translated. Gives the parent's git path, the parent of gitPath.
    bool parentTakesPlaceholder(svn_fs_root_t *root, const QByteArray &svnParent,
                                apr_hash_t *entries, const QString &gitPath, QString *gitParent,
                                apr_pool_t *pool) const;

    svn_fs_t *m_fs;
    int m_revision;
    bool m_dryRun;
    bool m_svnIgnore;
    bool m_emptyDirs;
};
