#include "verify/StateWalk.h"

#include "common/ProgressLine.h"
#include "verify/BranchTrees.h"
#include "verify/CoverageCheck.h"
#include "verify/MetadataCheck.h"
#include "verify/RecordedStates.h"
#include "verify/StateCheck.h"

#include <malloc.h>

namespace {

// Commits are read from git in groups of this many, which bounds memory.
const int commitsPerRead = 4000;

} // namespace

StateWalk::StateWalk(const Setup &setup, Logs logs, int first, int last)
    : m_setup(setup)
    , m_logs(std::move(logs))
    , m_first(first)
    , m_last(last)
{
}

StateWalk::~StateWalk() = default;

Failure StateWalk::cannotRead(int revision, const Status &why)
{
    Failure failure = Failure::fatal(QStringLiteral("cannot read revision %1").arg(revision));
    failure.setCause(why.failure().cause());
    return failure;
}

Status StateWalk::run(ProgressLine *progress)
{
    Status status = m_svn.open(m_setup.svnRepository);
    if (status) {
        m_metadata = std::make_unique<MetadataCheck>(m_svn.fs(), m_setup.metadata);
        m_trees = std::make_unique<BranchTrees>(m_svn.fs(), m_setup.settings);
        status = start();
    }
    if (status)
        status = checkStates(progress);
    // A stretch stopped by another one's failure ends here, its work lost.
    if (status && !m_setup.stop->load())
        status = follow(std::max(m_last, m_trees->revision()));
    if (status && m_coverage)
        m_coverage->passed(m_last + 1, &m_differences);
    if (!status)
        m_setup.stop->store(true);
    return status;
}

// With every state checked, follows the tree of every branch from the
// revision before the stretch on as the walk changes it, so that a change
// with no recorded state shows. What the trees are at that revision is where
// the stretch starts from: the stretch before checks how they came to be.
Status StateWalk::start()
{
    // Memos come and go while the trees of new branches stay: the freed
    // pages between them go back to the system now and then.
    m_trees->setRevisionObserver([](int revision) {
        if (revision % 1024 == 0)
            malloc_trim(0);
    });
    if (!m_setup.coverage)
        return Status();
    m_coverage = std::make_unique<CoverageCheck>(*m_setup.coverage, m_first);
    m_trees->setChangeObserver(
            [this](int revision, const QList<QPair<QString, QString>> &touched) {
                for (const auto &[repository, branch] : touched) {
                    if (!m_setup.repositories.contains(repository))
                        continue;
                    TreeNodePointer tree;
                    if (Status read = m_trees->tree(repository, branch, &tree); !read)
                        return read;
                    m_coverage->treeAt(revision, repository, branch,
                                       tree ? tree->treeId() : QByteArray());
                }
                return Status();
            });
    return m_last > 0 ? follow(std::max(1, m_first - 1)) : Status();
}

Status StateWalk::follow(int revision)
{
    const Status read = m_trees->advanceTo(revision);
    return read ? read : cannotRead(revision, read);
}

// The states in revision order, with the trees brought to each one's
// revision; the commits of a group of states are read from git at once.
// States before the stretch are passed over.
Status StateWalk::checkStates(ProgressLine *progress)
{
    StateCheck check(m_setup.repositories, *m_trees, m_coverage ? m_metadata.get() : nullptr);
    check.setEmptyDirs(m_setup.emptyDirs);
    RecordedStates states(m_logs, m_setup.headsOnly, m_setup.sample);
    QList<RecordedStates::Item> group;
    RecordedStates::Item item;
    while (!m_setup.stop->load()) {
        group.clear();
        while (group.size() < commitsPerRead && states.next(&item)) {
            if (item.state.revision > m_last)
                break;
            if (item.state.revision >= m_first)
                group.append(item);
            else
                check.passOver(item);
        }
        if (group.isEmpty())
            return Status();
        check.readCommits(group, m_logs);
        for (int i = 0; i < group.size() && !m_setup.stop->load(); ++i) {
            const ConversionLog::State &state = group.at(i).state;
            m_report.countState(m_setup.repositories.at(group.at(i).repositoryIndex),
                                state.branch);
            if (Status followed = follow(state.revision); !followed)
                return followed;
            if (m_coverage) {
                m_coverage->passed(state.revision, &m_differences);
                m_coverage->stateAt(state.revision,
                                    m_setup.repositories.at(group.at(i).repositoryIndex),
                                    state.branch);
            }
            if (Status checked = check.check(i, &m_differences); !checked)
                return checked;
            m_setup.passed->fetch_add(1);
            showProgress(progress, states.total());
        }
    }
    return Status();
}

// "checked N of TOTAL branch states, about S left", every half second.
void StateWalk::showProgress(ProgressLine *progress, int total)
{
    if (!progress || !progress->shown() || progress->elapsed() < m_nextProgress)
        return;
    m_nextProgress = progress->elapsed() + 500;
    const int done = m_setup.passed->load();
    const qint64 left = done > 0 ? progress->elapsed() * (total - done) / done / 1000 : 0;
    progress->show(QStringLiteral("checked %1 of %2 branch states, about %3s left")
                           .arg(done)
                           .arg(total)
                           .arg(left)
                           .toUtf8());
}
