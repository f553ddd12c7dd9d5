// Writing whole directory trees into a transaction.

#include "svn/TreeWriter.h"

#include "svn/AttributeFileWriter.h"
#include "svn/DirectoryEntries.h"
#include "svn/DirectoryFileWriter.h"
#include "svn/ExportProgress.h"
#include "svn/FileContentsWriter.h"
#include "svn/IgnoreRules.h"
#include "svn/RevisionQueries.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QDebug>

Status TreeWriter::write(const DumpTarget &target, const MatchRule &rule,
                         const QList<MatchRule> &ruleList, bool ignoreRulesWritten,
                         apr_pool_t *pool)
{
    const QByteArray &path = target.svnPath;
    if (!RevisionQueries::isDirectoryInRevision(m_settings.fs, m_settings.revision,
                                                path.constData(), pool))
        return m_writers.files.write(target, pool);

    if (!ignoreRulesWritten && m_settings.svnIgnore) {
        QString ignoreText;
        if (!succeededOrWarned(
                    IgnoreRules::read(ignoreText, pool, path.constData(), target.root))) {
            qWarning() << "Error fetching svn-properties (" << QString::fromUtf8(path) << ")";
        } else if (!ignoreText.isNull()) {
            m_writers.directoryFiles.writeGitignore(target, ignoreText.toUtf8().constData(), pool);
        }
    }
    m_writers.attributes.writeGitattributes(target, true, pool);

    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, target.root, path.constData(), pool))
        return svnFailure(error);
    const QMap<QByteArray, const svn_fs_dirent_t *> sorted = sortedEntries(entries, pool);

    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        entryPool.clear();
        DumpTarget entry = target;
        entry.svnPath = path + '/' + it.key();
        entry.gitPath = target.gitPath + QString::fromUtf8(it.key());

        if (it.value()->kind == svn_node_file) {
            if (m_settings.progress)
                m_settings.progress->fileWritten();
            if (Status status = m_writers.files.write(entry, entryPool); !status)
                return status;
        } else if (it.value()->kind == svn_node_dir) {
            entry.gitPath += QLatin1Char('/');
            const QString matchedPath = QString::fromUtf8(entry.svnPath + '/');
            const MatchRule *found =
                    RevisionQueries::findMatchingRule(ruleList, matchedPath, m_settings.revision,
                                                      m_settings.counter);
            if (!found)
                continue;
            // Only directories that stay in the starting rule's repository
            // belong to this dump.
            if (found->action == RuleAction::Export && found->repository == rule.repository) {
                if (Status status = write(entry, rule, ruleList, false, entryPool); !status)
                    return status;
            } else if (m_settings.debugRules) {
                qDebug() << "recursiveDumpDir:" << matchedPath
                         << "skip entry for different/ignored repository";
            }
        }
    }
    return Status();
}
