#pragma once

#include "common/Failure.h"
#include "repository/Repository.h"
#include "rules/MatchRule.h"
#include "svn/DispatchObserver.h"
#include "svn/ExportOptions.h"
#include "svn/IdentityMap.h"
#include "svn/RuleTarget.h"
#include "svn/ScopedPool.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <map>
#include <memory>

#include <apr_pools.h>
#include <svn_fs.h>

class MatchCounter;
class QIODevice;

// Converts one Subversion revision: collects and dispatches its changed
// paths, exports the matched ones into transactions and commits them.
// Lives for one revision; owns the revision's pool and open transactions.
// Transactions are kept and committed in key order (repository name, line
// feed, branch name), so that every run writes the same stream.
class RevisionExporter
{
public:
    // What the dispatch needs to know of one changed path.
    struct PathChange
    {
        svn_fs_path_change_kind_t kind = svn_fs_path_change_modify;
        bool propertiesModified = false;
    };
    // Every changed path of the revision, ordered byte-wise by path.
    using ChangedPathTable = QMap<QByteArray, PathChange>;

    RevisionExporter(int revision, svn_fs_t *fs, apr_pool_t *parentPool,
                     const ExportOptions &options);
    ~RevisionExporter();

    RevisionExporter(const RevisionExporter &) = delete;
    RevisionExporter &operator=(const RevisionExporter &) = delete;

    void assignSettings(const QList<QList<MatchRule>> &matchRuleLists,
                        const QHash<QString, Repository *> &repositories,
                        const IdentityMap &identities, const QString &identityDomain,
                        MatchCounter *matchCounter = nullptr);

    // Rules checking: problems go to the observer and the dispatch goes on.
    void setDispatchObserver(DispatchObserver *observer) { m_observer = observer; }

    Status openRevisionRoot();
    Status collectChangedPaths();
    bool needsCommit() const { return m_needCommit; }
    Status readRevisionProperties();
    Status commitTransactions();

    QByteArray author() const { return m_author; }
    QByteArray logMessage() const { return m_logMessage; }
    uint epoch() const { return m_epoch; }

    // Seconds since 1970 of a Subversion date such as 2009-02-13T23:31:30.000000Z.
    static uint parseSvnDate(const char *text);

    // The first rule of the list that covers matchedPath at revision; counted
    // with counter, when there is one. Null when no rule covers it.
    static const MatchRule *findMatchingRule(const QList<MatchRule> &ruleList,
                                             const QString &matchedPath, int revision,
                                             MatchCounter *counter);
    static bool isDirectoryInRevision(svn_fs_t *fs, int revision, const char *path,
                                      apr_pool_t *pool);

    // Translates the directory's svn:ignore and svn:global-ignores into
    // .gitignore text; a null text means there is nothing to write.
    static int readIgnoreRules(QString &ignoreText, apr_pool_t *pool, const char *path,
                               svn_fs_root_t *root);

private:
    enum class CopyMode { Plain, IgnoredCopy, Copy };

    // Change dispatch.
    Status handleChangedPath(const QByteArray &path, const PathChange &change,
                          const ChangedPathTable &changes);
    Status applyRuleAction(const char *path, const PathChange &change, const char *copyFromPath,
                        svn_revnum_t copyFromRevision, const ChangedPathTable &changes,
                        const QString &matchedPath, const MatchRule &rule,
                        const QList<MatchRule> &ruleList, apr_pool_t *pool);
    Status descendIntoDirectory(const char *path, const PathChange &change,
                             const char *copyFromPath, const QList<MatchRule> &ruleList,
                             svn_revnum_t copyFromRevision, const ChangedPathTable &changes,
                             apr_pool_t *pool);
    void printRuleDebug(const QString &matchedPath, const MatchRule &rule,
                        const char *outcome) const;

    // Path export.
    Status exportMatchedPath(const char *path, const PathChange &change, const char *copyFromPath,
                          svn_revnum_t copyFromRevision, const QString &matchedPath,
                          const MatchRule &rule, const QList<MatchRule> &ruleList);
    Status exportWholeBranchCopy(const char *path, const char *copyFromPath,
                              svn_revnum_t copyFromRevision, const QString &matchedPath,
                              const QString &sourcePath, const MatchRule &rule,
                              const QList<MatchRule> &ruleList, const RuleTarget &target,
                              const RuleTarget &sourceTarget, Repository *repository,
                              apr_pool_t *pool);
    // Whether the tree at path in root holds a file that the rules do not
    // ignore. A tree that cannot be read counts as holding files.
    static bool treeHoldsFiles(svn_fs_root_t *root, const QByteArray &path,
                               const QList<MatchRule> &ruleList, int revision, apr_pool_t *pool);
    Status exportDirectory(const char *path, const PathChange &change, CopyMode mode,
                        const MatchRule &rule, const QList<MatchRule> &ruleList,
                        const RuleTarget &target, Repository::Transaction *transaction,
                        bool *placeholderWritten, apr_pool_t *pool);
    void recordAnnotatedTagIfWanted(const MatchRule &rule, const RuleTarget &target,
                                    Repository *repository);
    RuleTarget computeRuleTarget(const MatchRule &rule, const QString &path,
                                 int matchLength) const;
    Result<Repository::Transaction *> transactionFor(const RuleTarget &target,
                                                     Repository *repository);
    static const MatchRule *findCopySourceRule(const QList<MatchRule> &ruleList,
                                               const QString &sourcePath, int copyFromRevision,
                                               int *matchLength, MatchCounter *counter);
    int addPlaceholdersForEmptySubdirs(apr_pool_t *pool, const char *svnDirectory,
                                              const QString &gitDirectory, svn_fs_root_t *root,
                                              Repository::Transaction *transaction);

    // Tree dump and file contents.
    Status recursiveDumpDir(Repository::Transaction *transaction, svn_fs_t *fs,
                         svn_fs_root_t *root, const QByteArray &path, const QString &gitPath,
                         apr_pool_t *pool, int revision, const MatchRule &rule,
                         const QList<MatchRule> &ruleList, bool debugRules,
                         bool ignoreRulesWritten);
    Status writeFileContents(Repository::Transaction *transaction, svn_fs_root_t *root,
                                 const char *path, const QString &gitPath, apr_pool_t *pool);
    static Status copyFileContents(svn_stream_t *contents, QIODevice *device, qint64 length,
                                svn_fs_root_t *root, const char *path, apr_pool_t *pool);
    static Status fillBlob(QIODevice *device, qint64 missing);
    // Writes into the device and waits while more than 32768 bytes are not
    // yet taken by the process; false when the process refuses them.
    static Status writeToDevice(QIODevice *device, const char *data, qint64 length);

    // Ignore properties, empty directories and property check.
    int writeGitignore(apr_pool_t *pool, const char *path, const QString &gitPath,
                              svn_fs_root_t *root, Repository::Transaction *transaction,
                              const char *content);
    int addEmptyDirPlaceholder(apr_pool_t *pool, const char *path,
                                      const QString &gitPath, svn_fs_root_t *root,
                                      Repository::Transaction *transaction);
    int removeEmptyDirPlaceholder(apr_pool_t *pool, const char *path, const QString &gitPath,
                                  Repository::Transaction *transaction);
    static int warnUnknownProperties(apr_pool_t *pool, const char *path, svn_fs_root_t *root);
    void writePlaceholder(Repository::Transaction *transaction, const QString &path);

    // The entries of a directory listing, ordered byte-wise by name.
    static QMap<QByteArray, svn_node_kind_t> sortedEntries(apr_hash_t *entries,
                                                           apr_pool_t *pool);

    ExportOptions m_options;
    // Declared before the transactions, so that they go first.
    ScopedPool m_pool;
    std::map<QString, std::unique_ptr<Repository::Transaction>> m_transactions;
    QList<QList<MatchRule>> m_matchRuleLists;
    QHash<QString, Repository *> m_repositories;
    IdentityMap m_identities;
    QString m_identityDomain;
    MatchCounter *m_matchCounter = nullptr;
    svn_fs_t *m_fs;
    svn_fs_root_t *m_fsRoot = nullptr;
    int m_revision;
    QByteArray m_author;
    QByteArray m_logMessage;
    uint m_epoch = 0;
    bool m_propertiesRead = false;
    bool m_needCommit = false;
    // Set when a rule gave a branch name git refuses; it fails the revision.
    bool m_refNameRefused = false;
    DispatchObserver *m_observer = nullptr;
};
