// Writing whole directory trees and single files into a transaction.

#include "svn/RevisionExporter.h"

#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QDebug>
#include <QIODevice>

#include <cstdio>
#include <cstring>

#include <svn_io.h>

namespace {

// Unwritten data a device may hold before the writer waits for the reader.
const qint64 maximumPendingBytes = 32768;

const int regularFileMode = 0100644;
const int executableFileMode = 0100755;
const int symbolicLinkMode = 0120000;

} // namespace

int RevisionExporter::recursiveDumpDir(Repository::Transaction *transaction, svn_fs_t *fs,
                                       svn_fs_root_t *root, const QByteArray &path,
                                       const QString &gitPath, apr_pool_t *pool, int revision,
                                       const MatchRule &rule, const QList<MatchRule> &ruleList,
                                       bool debugRules, bool ignoreRulesWritten)
{
    if (!isDirectoryInRevision(fs, revision, path.constData(), pool))
        return writeFileContents(transaction, root, path.constData(), gitPath, pool);

    if (!ignoreRulesWritten && optionIsSet("svn-ignore")) {
        QString ignoreText;
        if (readIgnoreRules(ignoreText, pool, path.constData(), root) != 0) {
            qWarning() << "Error fetching svn-properties (" << QString::fromUtf8(path) << ")";
        } else if (!ignoreText.isNull()) {
            writeGitignore(pool, path.constData(), gitPath, root, transaction,
                           ignoreText.toUtf8().constData());
        }
    }

    apr_hash_t *entries = nullptr;
    if (svn_error_t *error = svn_fs_dir_entries(&entries, root, path.constData(), pool))
        return reportSvnError(error);
    const QMap<QByteArray, svn_node_kind_t> sorted = sortedEntries(entries, pool);

    ScopedPool entryPool(pool);
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it) {
        entryPool.clear();
        const QByteArray entryPath = path + '/' + it.key();
        QString entryGitPath = gitPath + QString::fromUtf8(it.key());

        if (it.value() == svn_node_file) {
            printf("+");
            fflush(stdout);
            if (writeFileContents(transaction, root, entryPath.constData(), entryGitPath,
                                  entryPool)
                == 1)
                return 1;
        } else if (it.value() == svn_node_dir) {
            entryGitPath += QLatin1Char('/');
            const QString matchedPath = QString::fromUtf8(entryPath + '/');
            const MatchRule *found = findMatchingRule(ruleList, matchedPath, revision);
            if (!found)
                continue;
            // Only directories that stay in the starting rule's repository
            // belong to this dump.
            if (found->action == RuleAction::Export && found->repository == rule.repository) {
                if (recursiveDumpDir(transaction, fs, root, entryPath, entryGitPath, entryPool,
                                     revision, rule, ruleList, debugRules, false)
                    == 1)
                    return 1;
            } else if (debugRules) {
                qDebug() << "recursiveDumpDir:" << matchedPath
                         << "skip entry for different/ignored repository";
            }
        }
    }
    return 0;
}

int RevisionExporter::writeFileContents(Repository::Transaction *transaction,
                                        svn_fs_root_t *root, const char *path,
                                        const QString &gitPath, apr_pool_t *pool)
{
    ScopedPool filePool(pool);
    const bool dryRun = optionIsSet("dry-run");

    int mode = regularFileMode;
    svn_string_t *executable = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&executable, root, path, "svn:executable",
                                              filePool))
        reportSvnError(error); // an unreadable flag leaves the file a regular one
    else if (executable)
        mode = executableFileMode;

    svn_filesize_t length = 0;
    if (svn_error_t *error = svn_fs_file_length(&length, root, path, filePool))
        return reportSvnError(error);

    svn_stream_t *contents = nullptr;
    if (!dryRun) {
        if (svn_error_t *error = svn_fs_file_contents(&contents, root, path, filePool))
            return reportSvnError(error);
    }

    svn_string_t *special = nullptr;
    if (svn_error_t *error = svn_fs_node_prop(&special, root, path, "svn:special", filePool))
        return reportSvnError(error);

    if (special && !dryRun) {
        // A symbolic link is stored as "link " followed by its target.
        char head[5];
        apr_size_t headLength = sizeof head;
        if (svn_error_t *error = svn_stream_read_full(contents, head, &headLength))
            return reportSvnError(error);
        if (headLength == 5 && std::memcmp(head, "link ", 5) == 0) {
            mode = symbolicLinkMode;
            length -= 5;
        } else {
            qWarning("file %s is svn:special but not a symlink", path);
            svn_error_clear(svn_stream_close(contents));
            if (svn_error_t *error = svn_fs_file_contents(&contents, root, path, filePool))
                return reportSvnError(error);
        }
    }

    QIODevice *device = transaction->openFile(gitPath, mode, length);
    if (dryRun)
        return 0;
    if (!device) {
        svn_error_clear(svn_stream_close(contents));
        return 1;
    }

    svn_stream_t *output = svn_stream_create(device, filePool);
    svn_stream_set_write(output, streamWriteToDevice);
    if (svn_error_t *error = svn_stream_copy3(contents, output, nullptr, nullptr, filePool))
        return reportSvnError(error);
    device->putChar('\n');
    return 0;
}

svn_error_t *RevisionExporter::streamWriteToDevice(void *baton, const char *data,
                                                   apr_size_t *length)
{
    QIODevice *device = static_cast<QIODevice *>(baton);
    device->write(data, qint64(*length));
    while (device->bytesToWrite() > maximumPendingBytes) {
        if (!device->waitForBytesWritten(-1))
            qFatal("Failed to write to process: %s",
                   device->errorString().toLocal8Bit().constData());
    }
    return SVN_NO_ERROR;
}
