// Turning one matched Subversion path into branch operations and commit content.

#include "svn/RevisionExporter.h"

#include "rules/MatchCounter.h"
#include "repository/GitNames.h"
#include "svn/PathRouting.h"
#include "svn/IgnoreRules.h"
#include "svn/RevisionQueries.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QDebug>
#include <QRegExp>

#include <cstring>

#include <apr_hash.h>

namespace {

// Warns of the properties of path that git cannot carry.
Status warnUnknownProperties(apr_pool_t *pool, const char *path, svn_fs_root_t *root)
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

} // namespace

RuleTarget RevisionExporter::computeRuleTarget(const MatchRule &rule, const QString &path,
                                               int matchLength) const
{
    return PathRouting::ruleTarget(rule, path, matchLength, [this](const QString &name) {
        return effectiveRepository(name);
    });
}

QString RevisionExporter::effectiveRepository(const QString &name) const
{
    Repository *repository = m_repositories.value(name);
    return repository ? repository->targetRepository()->name() : name;
}

const MatchRule *RevisionExporter::findCopySourceRule(const QList<MatchRule> &ruleList,
                                                      const QString &sourcePath,
                                                      int copyFromRevision, int *matchLength,
                                                      MatchCounter *counter)
{
    // Unlike the lookup for changed paths, Ignore rules are passed over here,
    // so that a later rule can claim a source an earlier Ignore rule covers.
    for (const MatchRule &rule : ruleList) {
        if (!PathRouting::inForceAt(rule, copyFromRevision))
            continue;
        if (rule.action == RuleAction::Ignore)
            continue;
        if (rule.pattern.indexIn(sourcePath) != 0)
            continue;
        *matchLength = rule.pattern.matchedLength();
        if (counter)
            counter->countMatch(rule);
        return &rule;
    }
    return nullptr;
}

Status RevisionExporter::exportMatchedPath(const ChangedPath &changed, const MatchRule &rule,
                                           const QList<MatchRule> &ruleList)
{
    const QString &matchedPath = changed.matchedPath;
    m_needCommit = true;
    const bool deletion = changed.change.kind == svn_fs_path_change_delete;
    // Everything this one path allocates goes with it.
    ScopedPool pool(m_pool.pool());

    rule.pattern.indexIn(matchedPath);
    MatchedPath context(changed, rule, ruleList, pool);
    context.target = computeRuleTarget(rule, matchedPath, rule.pattern.matchedLength());
    const RuleTarget &target = context.target;

    Repository *repository = m_repositories.value(target.repository);
    context.repository = repository;
    // A deleted path is then looked at entry by entry, and the failure is
    // not reported.
    if (!repository)
        return Failure() << "Rule" << rule.summary() << "references unknown repository"
                         << target.repository;

    if (m_progress)
        m_progress->pathExported();

    // Every ref this path can make (the branch, its tag, its backups) derives
    // from the branch name; one git refuses would kill fast-import.
    if (!GitNames::isValidRefName(target.branch)) {
        if (m_observer) {
            m_observer->refusedRefName(m_revision, matchedPath, target.branch, rule);
            return Status();
        }
        m_refNameRefused = true;
        return Failure() << "Branch name" << target.branch << "for" << matchedPath
                         << "from rule" << rule.summary() << "is not a valid git ref name:"
                         << "add a \"substitute branch\" line to the rule to change it";
    }
    if (m_observer)
        m_observer->exportsInto(m_revision, matchedPath, target, deletion);

    // fast-import dies on a file at the root of a branch ("Root cannot be a
    // non-directory"), taking every ref of the run with it. A forwarding
    // prefix puts the file into a directory.
    if (!deletion && !matchedPath.endsWith(QLatin1Char('/'))
        && GitNames::normalisedPath(target.pathInBranch).isEmpty()
        && !repository->usesPrefix()) {
        return Failure() << "File" << matchedPath << "matches rule" << rule.summary()
                         << "as a whole, but a file cannot be the root of a branch:"
                         << "end the match pattern at a directory with \"/\","
                         << "or give the rule a \"prefix\"";
    }

    if (deletion && matchedPath == target.svnPrefix && target.pathInBranch.isEmpty()
        && !repository->usesPrefix()) {
        if (m_options.debugRules)
            qDebug() << "repository" << target.repository << "branch" << target.branch
                     << "deleted";
        return repository->dropBranch(target.branch, m_revision);
    }

    if (changed.copyFromPath && findCopySource(context))
        return exportWholeBranchCopy(context);
    return writeMatchedPath(context);
}

bool RevisionExporter::findCopySource(MatchedPath &context)
{
    const ChangedPath &changed = context.changed;
    const QString &matchedPath = changed.matchedPath;
    const char *copyFromPath = changed.copyFromPath;
    const svn_revnum_t copyFromRevision = changed.copyFromRevision;
    const RuleTarget &target = context.target;
    RuleTarget &sourceTarget = context.sourceTarget;

    QString &sourcePath = context.sourcePath;
    sourcePath = QString::fromUtf8(copyFromPath);
    if (RevisionQueries::isDirectoryInRevision(m_fs, copyFromRevision, copyFromPath, context.pool))
        sourcePath += QLatin1Char('/');
    int sourceMatchLength = 0;
    const MatchRule *sourceRule = findCopySourceRule(context.ruleList, sourcePath,
                                                     copyFromRevision, &sourceMatchLength,
                                                     m_matchCounter);
    if (!sourceRule) {
        qWarning() << "WARN: SVN reports a \"copy from\" @" << m_revision << "from"
                   << copyFromPath << "@" << int(copyFromRevision)
                   << "but no matching rules found! Ignoring copy, treating as a "
                      "modification";
        context.mode = CopyMode::IgnoredCopy;
        return false;
    }
    context.mode = CopyMode::Copy;
    sourceTarget = computeRuleTarget(*sourceRule, sourcePath, sourceMatchLength);
    if (matchedPath != target.svnPrefix || !target.pathInBranch.isEmpty()) {
        // A copy into a branch, not onto its root.
    } else if (sourcePath != sourceTarget.svnPrefix) {
        qDebug() << qPrintable(matchedPath) << "is a partial branch of repository"
                 << qPrintable(sourceTarget.repository) << "branch"
                 << qPrintable(sourceTarget.branch) << "subdir"
                 << qPrintable(sourceTarget.pathInBranch);
    } else if (sourceTarget.effectiveRepository != target.effectiveRepository) {
        qWarning() << "WARN:" << qPrintable(matchedPath) << "rev" << m_revision
                   << "is a cross-repository copy (from repository"
                   << qPrintable(sourceTarget.repository) << "branch"
                   << qPrintable(sourceTarget.branch) << "path"
                   << qPrintable(sourceTarget.pathInBranch) << "rev" << int(copyFromRevision)
                   << ")";
    } else if (!sourceTarget.pathInBranch.isEmpty()) {
        qDebug() << qPrintable(matchedPath)
                 << "is a branch copy which renames base directory of all contents"
                 << qPrintable(sourceTarget.pathInBranch) << "to"
                 << qPrintable(target.pathInBranch);
    } else {
        return true;
    }
    return false;
}

Status RevisionExporter::writeMatchedPath(const MatchedPath &context)
{
    const ChangedPath &changed = context.changed;
    const char *path = changed.path;
    const QString &matchedPath = changed.matchedPath;
    const RuleTarget &target = context.target;
    const RuleTarget &sourceTarget = context.sourceTarget;
    apr_pool_t *pool = context.pool;

    Result<Repository::Transaction *> opened =
            m_transactions.open(target, context.repository, m_revision);
    if (!opened)
        return opened.status();
    Repository::Transaction *transaction = opened.value();
    const DumpTarget dumpTarget{m_fsRoot, QByteArray(path), target.pathInBranch, transaction};

    if (context.mode == CopyMode::Copy) {
        if (sourceTarget.effectiveRepository == target.effectiveRepository
            && sourceTarget.branch != target.branch) {
            if (m_options.debugRules)
                qDebug() << "copy from branch" << sourceTarget.branch << "to branch"
                         << target.branch << "@rev" << int(changed.copyFromRevision);
            transaction->recordMergeSource(sourceTarget.branch, int(changed.copyFromRevision));
        }
    } else if (changed.change.kind == svn_fs_path_change_replace) {
        if (m_options.debugRules)
            qDebug() << "replaced with empty path (" << target.branch << target.pathInBranch
                     << ")";
        transaction->removePath(target.pathInBranch);
        m_directoryFiles.addEmptyDirPlaceholder(dumpTarget, pool);
    }

    if (changed.change.kind == svn_fs_path_change_delete) {
        if (m_options.debugRules)
            qDebug() << "delete (" << target.branch << target.pathInBranch << ")";
        transaction->removePath(target.pathInBranch);
        m_directoryFiles.addEmptyDirPlaceholder(dumpTarget, pool);
        if (!matchedPath.endsWith(QLatin1Char('/')))
            m_attributes.updateGitattributes(dumpTarget, changed.change, pool);
    } else if (!matchedPath.endsWith(QLatin1Char('/'))) {
        if (m_options.debugRules)
            qDebug() << "add/change file (" << path << "->" << target.branch
                     << target.pathInBranch << ")";
        // Contents that cannot be read fail the revision: committing without
        // them would lose the file.
        if (Status status = m_fileWriter.write(dumpTarget, pool); !status)
            return status;
        m_directoryFiles.removeEmptyDirPlaceholder(dumpTarget, pool);
        m_attributes.updateGitattributes(dumpTarget, changed.change, pool);
    } else {
        bool placeholderWritten = false;
        if (Status status = exportDirectory(context, transaction, &placeholderWritten); !status)
            return status;
        // An empty directory that only got its placeholder is not tagged.
        if (placeholderWritten)
            return Status();
    }
    return recordAnnotatedTagIfWanted(context.rule, target, context.repository);
}

Status RevisionExporter::exportDirectory(const MatchedPath &context,
                                         Repository::Transaction *transaction,
                                         bool *placeholderWritten)
{
    const char *path = context.changed.path;
    const PathChange &change = context.changed.change;
    const CopyMode mode = context.mode;
    const MatchRule &rule = context.rule;
    const QList<MatchRule> &ruleList = context.ruleList;
    const RuleTarget &target = context.target;
    apr_pool_t *pool = context.pool;
    const DumpTarget directory{m_fsRoot, QByteArray(path), target.pathInBranch, transaction};
    if (m_options.debugRules)
        qDebug() << "add/change dir (" << path << "->" << target.branch << target.pathInBranch
                 << ")";

    const bool propertiesChanged = mode == CopyMode::Copy
            ? (change.kind == svn_fs_path_change_add || change.kind == svn_fs_path_change_replace)
            : change.propertiesModified;

    if (propertiesChanged && m_options.propcheck
        && !succeededOrWarned(warnUnknownProperties(pool, path, m_fsRoot)))
        qWarning() << "Error checking svn-properties (" << path << ")";

    const bool redump = mode != CopyMode::Plain || change.kind > svn_fs_path_change_replace;
    if (redump) {
        transaction->removePath(target.pathInBranch);
        m_directoryFiles.addEmptyDirPlaceholder(directory, pool);
    }
    if (change.kind == svn_fs_path_change_replace)
        m_attributes.updateGitattributes(directory, change, pool);

    m_directoryFiles.removeEmptyDirPlaceholder(directory, pool);

    bool ignoreRulesWritten = false;
    if (propertiesChanged && m_options.svnIgnore) {
        QString ignoreText;
        if (!succeededOrWarned(IgnoreRules::read(ignoreText, pool, path, m_fsRoot))) {
            qWarning() << "Error fetching svn-properties (" << path << ")";
        } else if (ignoreText.isNull()) {
            transaction->removePath(
                    DirectoryFileWriter::directoryFilePath(target.pathInBranch, ".gitignore"));
        } else {
            m_directoryFiles.writeGitignore(directory, ignoreText.toUtf8().constData(), pool);
            ignoreRulesWritten = true;
        }
    }

    if (!ignoreRulesWritten && m_options.emptyDirs
        && m_directoryFiles.writeGitignore(directory, nullptr, pool)) {
        *placeholderWritten = true;
        return Status();
    }

    if (redump) {
        if (Status status = treeWriter().write(directory, rule, ruleList, ignoreRulesWritten, pool);
            !status)
            return status;
        if (m_options.emptyDirs)
            addPlaceholdersForEmptySubdirs(directory, pool);
    }
    return Status();
}

Status RevisionExporter::recordAnnotatedTagIfWanted(const MatchRule &rule,
                                                    const RuleTarget &target,
                                                    Repository *repository)
{
    if (!rule.annotated)
        return Status();
    // Without author, date and message there is no tag to record; the
    // revision fails here rather than at its commit.
    if (Status read = readRevisionProperties(); !read)
        return read;
    repository->recordAnnotatedTag(target.branch, target.svnPrefix, m_revision, m_author,
                                   m_epoch, m_logMessage);
    return Status();
}
