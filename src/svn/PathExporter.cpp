// Turning one matched Subversion path into branch operations and commit content.

#include "svn/PathExporter.h"

#include "repository/GitNames.h"
#include "svn/AttributeFileWriter.h"
#include "svn/BranchCopyExporter.h"
#include "svn/DirectoryFileWriter.h"
#include "svn/DispatchObserver.h"
#include "svn/ExportProgress.h"
#include "svn/FileContentsWriter.h"
#include "svn/IgnoreRules.h"
#include "svn/RevisionProperties.h"
#include "svn/RuleRouter.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"
#include "svn/TransactionSet.h"
#include "svn/TreeWriter.h"

#include <QDebug>
#include <QMap>
#include <QRegExp>

#include <cstring>

#include <apr_hash.h>

namespace {

// Warns of the properties of path that git cannot carry, by name: the order
// of a property list differs from run to run.
Status warnUnknownProperties(apr_pool_t *pool, const char *path, svn_fs_root_t *root)
{
    apr_hash_t *properties = nullptr;
    if (svn_error_t *error = svn_fs_node_proplist(&properties, root, path, pool))
        return svnFailure(error);
    QMap<QByteArray, const svn_string_t *> unknown;
    for (apr_hash_index_t *it = apr_hash_first(pool, properties); it; it = apr_hash_next(it)) {
        const void *key = nullptr;
        void *value = nullptr;
        apr_hash_this(it, &key, nullptr, &value);
        const char *name = static_cast<const char *>(key);
        if (std::strcmp(name, "svn:ignore") == 0 || std::strcmp(name, "svn:global-ignores") == 0
            || std::strcmp(name, "svn:mergeinfo") == 0)
            continue;
        unknown.insert(name, static_cast<const svn_string_t *>(value));
    }
    for (auto it = unknown.cbegin(); it != unknown.cend(); ++it)
        qWarning() << "WARN: Unknown svn-property" << it.key().constData() << "set to"
                   << it.value()->data << "for" << path;
    return Status();
}

} // namespace

PathExporter::PathExporter(const Settings &settings, const RuleRouter &router,
                           const Writers &writers)
    : m_settings(settings)
    , m_revision(int(svn_fs_revision_root_revision(settings.root)))
    , m_router(router)
    , m_writers(writers)
{
}

Status PathExporter::exportPath(const ChangedPath &changed, const MatchRule &rule,
                                const QList<MatchRule> &ruleList)
{
    const QString &matchedPath = changed.matchedPath;
    // Everything this one path allocates goes with it.
    ScopedPool pool(m_settings.revisionPool);

    rule.pattern.indexIn(matchedPath);
    MatchedPath context(changed, rule, ruleList, pool);
    context.target = m_router.target(rule, matchedPath, rule.pattern.matchedLength());
    const RuleTarget &target = context.target;

    Repository *repository = m_router.repository(target.repository);
    context.repository = repository;
    // A deleted path is then looked at entry by entry, and the failure is
    // not reported.
    if (!repository)
        return Failure() << "Rule" << rule.summary() << "references unknown repository"
                         << target.repository;

    if (m_settings.progress)
        m_settings.progress->pathExported();

    // Every ref this path can make (the branch, its tag, its backups) derives
    // from the branch name; one git refuses would kill fast-import.
    if (!GitNames::isValidRefName(target.branch)) {
        if (m_settings.observer) {
            m_settings.observer->refusedRefName(m_revision, matchedPath, target.branch, rule);
            return Status();
        }
        m_refNameRefused = true;
        return Failure() << "Branch name" << target.branch << "for" << matchedPath
                         << "from rule" << rule.summary() << "is not a valid git ref name:"
                         << "add a \"substitute branch\" line to the rule to change it";
    }
    const bool deletion = changed.change.kind == svn_fs_path_change_delete;
    if (m_settings.observer)
        m_settings.observer->exportsInto(m_revision, matchedPath, target, deletion);
    if (Status status = checkTarget(context); !status)
        return status;

    if (deletion && matchedPath == target.svnPrefix && target.pathInBranch.isEmpty()
        && !repository->usesPrefix()) {
        if (m_settings.options.debugRules)
            qDebug() << "repository" << target.repository << "branch" << target.branch
                     << "deleted";
        return repository->dropBranch(target.branch, m_revision);
    }

    if (changed.copyFromPath && m_writers.branchCopies.findCopySource(context)) {
        if (Status copied = m_writers.branchCopies.exportCopy(context); !copied)
            return copied;
        return recordAnnotatedTagIfWanted(context);
    }
    return writeMatchedPath(context);
}

Status PathExporter::checkTarget(const MatchedPath &context) const
{
    const QString &matchedPath = context.changed.matchedPath;
    // fast-import dies on a file at the root of a branch ("Root cannot be a
    // non-directory"), taking every ref of the run with it. A forwarding
    // prefix puts the file into a directory.
    if (context.changed.change.kind != svn_fs_path_change_delete
        && !matchedPath.endsWith(QLatin1Char('/'))
        && GitNames::normalisedPath(context.target.pathInBranch).isEmpty()
        && !context.repository->usesPrefix()) {
        return Failure() << "File" << matchedPath << "matches rule" << context.rule.summary()
                         << "as a whole, but a file cannot be the root of a branch:"
                         << "end the match pattern at a directory with \"/\","
                         << "or give the rule a \"prefix\"";
    }
    return Status();
}

Status PathExporter::writeMatchedPath(const MatchedPath &context)
{
    const ChangedPath &changed = context.changed;
    const char *path = changed.path;
    const QString &matchedPath = changed.matchedPath;
    const RuleTarget &target = context.target;
    const RuleTarget &sourceTarget = context.sourceTarget;
    const bool debugRules = m_settings.options.debugRules;
    const DirectoryFileWriter &directoryFiles = m_writers.directoryFiles;
    apr_pool_t *pool = context.pool;

    Result<Repository::Transaction *> opened =
            m_writers.transactions.open(target, context.repository, m_revision);
    if (!opened)
        return opened.status();
    Repository::Transaction *transaction = opened.value();
    const DumpTarget dumpTarget{m_settings.root, QByteArray(path), target.pathInBranch,
                                transaction};

    if (context.mode == CopyMode::Copy) {
        if (sourceTarget.effectiveRepository == target.effectiveRepository
            && sourceTarget.branch != target.branch) {
            if (debugRules)
                qDebug() << "copy from branch" << sourceTarget.branch << "to branch"
                         << target.branch << "@rev" << int(changed.copyFromRevision);
            transaction->recordMergeSource(sourceTarget.branch, int(changed.copyFromRevision));
        }
    } else if (changed.change.kind == svn_fs_path_change_replace) {
        if (debugRules)
            qDebug() << "replaced with empty path (" << target.branch << target.pathInBranch
                     << ")";
        transaction->removePath(target.pathInBranch);
        directoryFiles.addEmptyDirPlaceholder(dumpTarget, pool);
    }

    if (changed.change.kind == svn_fs_path_change_delete) {
        if (debugRules)
            qDebug() << "delete (" << target.branch << target.pathInBranch << ")";
        transaction->removePath(target.pathInBranch);
        directoryFiles.addEmptyDirPlaceholder(dumpTarget, pool);
        if (!matchedPath.endsWith(QLatin1Char('/')))
            m_writers.attributes.updateGitattributes(dumpTarget, changed.change, pool);
    } else if (!matchedPath.endsWith(QLatin1Char('/'))) {
        if (debugRules)
            qDebug() << "add/change file (" << path << "->" << target.branch
                     << target.pathInBranch << ")";
        // Contents that cannot be read fail the revision: committing without
        // them would lose the file.
        if (Status status = m_writers.files.write(dumpTarget, pool); !status)
            return status;
        directoryFiles.removeEmptyDirPlaceholder(dumpTarget, pool);
        m_writers.attributes.updateGitattributes(dumpTarget, changed.change, pool);
    } else {
        bool placeholderWritten = false;
        if (Status status = exportDirectory(context, transaction, &placeholderWritten); !status)
            return status;
        // An empty directory that only got its placeholder is not tagged.
        if (placeholderWritten)
            return Status();
    }
    return recordAnnotatedTagIfWanted(context);
}

Status PathExporter::exportDirectory(const MatchedPath &context,
                                     Repository::Transaction *transaction,
                                     bool *placeholderWritten)
{
    const char *path = context.changed.path;
    const PathChange &change = context.changed.change;
    const CopyMode mode = context.mode;
    const RuleTarget &target = context.target;
    const ExportOptions &options = m_settings.options;
    const DirectoryFileWriter &directoryFiles = m_writers.directoryFiles;
    apr_pool_t *pool = context.pool;
    const DumpTarget directory{m_settings.root, QByteArray(path), target.pathInBranch,
                               transaction};
    if (options.debugRules)
        qDebug() << "add/change dir (" << path << "->" << target.branch << target.pathInBranch
                 << ")";

    const bool propertiesChanged = mode == CopyMode::Copy
            ? (change.kind == svn_fs_path_change_add || change.kind == svn_fs_path_change_replace)
            : change.propertiesModified;

    if (propertiesChanged && options.propcheck
        && !succeededOrWarned(warnUnknownProperties(pool, path, m_settings.root)))
        qWarning() << "Error checking svn-properties (" << path << ")";

    const bool redump = mode != CopyMode::Plain || change.kind > svn_fs_path_change_replace;
    if (redump) {
        transaction->removePath(target.pathInBranch);
        directoryFiles.addEmptyDirPlaceholder(directory, pool);
    }
    if (change.kind == svn_fs_path_change_replace)
        m_writers.attributes.updateGitattributes(directory, change, pool);

    directoryFiles.removeEmptyDirPlaceholder(directory, pool);

    const bool ignoreRulesWritten =
            propertiesChanged && options.svnIgnore && translateIgnoreRules(directory, pool);
    if (!ignoreRulesWritten && options.emptyDirs
        && directoryFiles.writeGitignore(directory, nullptr, pool)) {
        *placeholderWritten = true;
        return Status();
    }

    if (redump) {
        if (Status status = m_writers.trees.write(directory, context.rule, context.ruleList,
                                                  ignoreRulesWritten, pool);
            !status)
            return status;
        if (options.emptyDirs)
            directoryFiles.addPlaceholdersForEmptySubdirs(directory, pool);
    }
    return Status();
}

bool PathExporter::translateIgnoreRules(const DumpTarget &directory, apr_pool_t *pool) const
{
    const char *path = directory.svnPath.constData();
    QString ignoreText;
    if (!succeededOrWarned(IgnoreRules::read(ignoreText, pool, path, m_settings.root))) {
        qWarning() << "Error fetching svn-properties (" << path << ")";
        return false;
    }
    if (ignoreText.isNull()) {
        directory.transaction->removePath(
                DirectoryFileWriter::directoryFilePath(directory.gitPath, ".gitignore"));
        return false;
    }
    m_writers.directoryFiles.writeGitignore(directory, ignoreText.toUtf8().constData(), pool);
    return true;
}

Status PathExporter::recordAnnotatedTagIfWanted(const MatchedPath &context)
{
    if (!context.rule.annotated)
        return Status();
    // Without author, date and message there is no tag to record; the
    // revision fails here rather than at its commit.
    RevisionProperties &properties = m_writers.properties;
    if (Status read = properties.read(m_settings.revisionPool); !read)
        return read;
    context.repository->recordAnnotatedTag(context.target.branch, context.target.svnPrefix,
                                           m_revision, properties.author(), properties.epoch(),
                                           properties.logMessage());
    return Status();
}
