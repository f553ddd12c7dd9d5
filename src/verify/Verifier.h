#pragma once

#include "common/Failure.h"
#include "svn/RevisionList.h"
#include "verify/ConversionLog.h"
#include "verify/Difference.h"
#include "verify/MetadataCheck.h"
#include "verify/VerifyReport.h"

#include <QList>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>
#include <QString>

class BranchTrees;
class RulesFileSet;
class StateWalk;
class SvnRepository;

// Checks a conversion in the current directory against the Subversion
// repository it was made from: every recorded branch state with its tree
// and metadata, the parents of every commit, every ref and every annotated
// tag.
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
        QString identityMap; // the file the conversion took identities from
        QString identityDomain; // as given: the converter's default when empty
        std::optional<QString> messageFilter;
        bool addMetadata = false;
        bool addMetadataNotes = false;
        bool json = false;
    };

    explicit Verifier(const Options &options);
    ~Verifier();

    // Runs the check; a failure when it cannot run.
    Status run();
    // What the check found, on standard output.
    void printReport() const;
    bool allEqual() const { return m_differences.isEmpty(); }

private:
    using Logs = std::vector<std::unique_ptr<ConversionLog>>;

    Status checkHistory(const QStringList &repositories, const Logs &logs, SvnRepository &svn,
                        const RulesFileSet &rules, int youngest);
    Status checkTagsAndRefs(const QStringList &repositories, const Logs &logs,
                            BranchTrees &branchTrees, MetadataCheck &metadata);
    Status checkAlive(const QStringList &repositories, const Logs &logs,
                      BranchTrees &branchTrees);
    Status readCoverage(std::optional<RevisionSet> *meant) const;
    Result<MetadataCheck::Options> metadataOptions() const;
    QStringList repositoriesToCheck(const RulesFileSet &rules) const;
    Status openLogs(const QStringList &repositories, Logs *logs);
    Status walk(SvnRepository &svn, const RulesFileSet &rules, const QStringList &repositories,
                const Logs &logs);
    Status compareTrees(const RulesFileSet &rules, const QStringList &repositories,
                        const Logs &logs, const MetadataCheck::Options &metadata);
    Status runSideBySide(const std::vector<std::unique_ptr<StateWalk>> &stretches);

    Options m_options;
    QList<Difference> m_differences;
    VerifyReport m_report;
    int m_lastRevision = 0;
};
