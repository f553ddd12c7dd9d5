#pragma once

#include "repository/GitObjectReader.h"
#include "verify/Difference.h"
#include "verify/HistoryCheck.h"
#include "verify/RecordedStates.h"
#include "verify/SvnTreeRouter.h"

#include <QList>
#include <QHash>
#include <QStringList>

#include <memory>
#include <vector>
#include <QSet>
#include <QString>

class BranchTrees;
class RulesFileSet;
class SvnRepository;
class CoverageCheck;
class ConversionLog;

// Checks a conversion in the current directory against the Subversion
// repository it was made from: every recorded branch state, every ref and
// every annotated tag.
class Verifier
{
public:
    struct Options
    {
        QString rulesFiles;
        QString svnRepository;
        QString onlyRepository;
        bool headsOnly = false;
        int sample = 0; // 0: every state
        int maxRevision = 0; // the last revision compared; 0: the youngest
        QString revisionsFile; // the revisions the conversion was limited to
        bool svnIgnore = false;
        bool svnAttributes = false;
        bool emptyDirs = false;
        bool svnMergeinfo = false; // check the parents of every recorded commit too
        bool json = false;
    };

    explicit Verifier(const Options &options);

    // 0 when all is equal, 1 when something differs, 2 when the check cannot run.
    int run();

private:
    struct Checked
    {
        int states = 0;
        int repositories = 0;
        int lastRevision = 0; // of the range compared
        int youngest = 0;
        QSet<QString> branches;
        QSet<QString> tags;
    };

    // What every state's check reads: per repository the git reader and the
    // refs git holds, and the trees of the commits of the states at hand.
    struct StateContext
    {
        QList<GitObjectReader> readers;
        QList<QHash<QString, QByteArray>> refs;
        QHash<QByteArray, QByteArray> commitTrees;
    };

    int checkStates(const QStringList &repositories,
                    const std::vector<std::unique_ptr<ConversionLog>> &logs,
                    BranchTrees &branchTrees, Checked *checked);
    bool checkState(const StateContext &context, BranchTrees &branchTrees,
                    const QString &repository, const RecordedStates::Item &item,
                    const QByteArray &commit);
    static QHash<QString, QByteArray> readRefs(const QString &repository,
                                               QHash<QString, bool> *annotated);
    bool compareTree(BranchTrees &branchTrees, const TreeNodePointer &expected,
                     const QByteArray &gitTree, const GitObjectReader &reader,
                     const Difference &where);
    int cannotRead(int revision) const;
    void checkRefs(const QString &repository, ConversionLog &log);
    void report(const Checked &checked) const;
    int checkHistory(const QStringList &repositories,
                     const std::vector<std::unique_ptr<ConversionLog>> &logs, SvnRepository &svn,
                     const RulesFileSet &rules, const Checked &checked);
    void checkBackups(const QString &repository,
                      const QMap<QString, HistoryCheck::Backup> &backups);
    int watchCoverage(BranchTrees &branchTrees, const QStringList &repositories);
    QStringList repositoriesToCheck(const RulesFileSet &rules) const;
    int openLogs(const QStringList &repositories,
                 std::vector<std::unique_ptr<ConversionLog>> *logs, Checked *checked);

    Options m_options;
    QList<Difference> m_differences;
    std::shared_ptr<CoverageCheck> m_coverage; // null when only some states are checked
    int m_lastRevision = 0;
};
