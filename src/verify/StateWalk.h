#pragma once

#include "common/Failure.h"
#include "svn/RevisionList.h"
#include "svn/SvnRepository.h"
#include "verify/ConversionLog.h"
#include "verify/Difference.h"
#include "verify/MetadataCheck.h"
#include "verify/SvnTreeRouter.h"
#include "verify/VerifyReport.h"

#include <QList>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class BranchTrees;
class CoverageCheck;
class ProgressLine;

// One stretch of the history, revisions first to last: Subversion's trees
// brought there revision by revision, and beside them the states the logs
// record in the stretch, with their commits read from git. Stretches run side
// by side, each in a process with handles of its own on the repository, the
// logs and git: a stretch that starts late builds every tree at the revision
// before its first, then follows the changes as the first stretch does.
class StateWalk
{
public:
    using Logs = std::vector<std::unique_ptr<ConversionLog>>;

    struct Setup
    {
        QString svnRepository;
        SvnTreeRouter::Settings settings;
        QStringList repositories;
        bool headsOnly = false;
        int sample = 0;
        bool emptyDirs = false;
        // When every state is checked, the revisions meant to be converted
        // (empty: every one): each change of a branch in them needs a state.
        std::optional<RevisionSet> coverage;
        MetadataCheck::Options metadata;
        // Set by the stretch that fails first: the others stop then.
        std::atomic<bool> *stop = nullptr;
        // The states all stretches have passed.
        std::atomic<int> *passed = nullptr;
    };

    // logs are the stretch's own, read through from their start.
    StateWalk(const Setup &setup, Logs logs, int first, int last);
    ~StateWalk();

    StateWalk(const StateWalk &) = delete;
    StateWalk &operator=(const StateWalk &) = delete;

    // Walks the stretch; a failure when Subversion, git or the message filter
    // cannot be read. With progress, the states all stretches passed show on it.
    Status run(ProgressLine *progress);

    const QList<Difference> &differences() const { return m_differences; }
    const VerifyReport &report() const { return m_report; }
    // At the stretch's last revision once it ran.
    BranchTrees &trees() { return *m_trees; }
    MetadataCheck &metadata() { return *m_metadata; }

    // "cannot read revision N", after the failure why.
    static Failure cannotRead(int revision, const Status &why);

private:
    Status start();
    Status checkStates(ProgressLine *progress);
    Status follow(int revision);
    void showProgress(ProgressLine *progress, int total);

    Setup m_setup;
    Logs m_logs;
    int m_first;
    int m_last;
    SvnRepository m_svn;
    std::unique_ptr<BranchTrees> m_trees;
    std::unique_ptr<MetadataCheck> m_metadata;
    std::unique_ptr<CoverageCheck> m_coverage;
    QList<Difference> m_differences;
    VerifyReport m_report;
    qint64 m_nextProgress = 0;
};
