#include "survey/CheckingRepository.h"

namespace {

// A commit that is never written.
class DiscardedTransaction : public Repository::Transaction
{
public:
    Status writeCommit() override { return Status(); }
    void setCommitter(const QByteArray &) override {}
    void setCommitTime(uint) override {}
    void setMessage(const QByteArray &) override {}
    void recordMergeSource(const QString &, int) override {}
    void recordMergeInfoChange(const MergeInfoChange &) override {}
    void removePath(const QString &) override {}
    Result<QIODevice *> openFile(const QString &, int, qint64) override
    {
        return static_cast<QIODevice *>(nullptr);
    }
    bool writeNote(const QByteArray &, bool, const QByteArray &) override { return true; }
};

} // namespace

CheckingRepository::CheckingRepository(const RepositoryRule &rule, CheckingRepository *target,
                                       const QString &defaultBranch)
    : m_name(rule.name), m_prefix(rule.prefix), m_target(target)
{
    m_branches.insert(defaultBranch);
    for (const DeclaredBranch &branch : rule.branches)
        m_branches.insert(branch.name);
}

Status CheckingRepository::makeBranch(const QString &branch, int, const QString &sourceBranch,
                                      int, bool)
{
    if (m_target)
        return m_target->makeBranch(branch, 0, sourceBranch, 0);
    m_branches.insert(branch);
    return Status();
}

Status CheckingRepository::dropBranch(const QString &branch, int)
{
    if (m_target)
        return m_target->dropBranch(branch, 0);
    m_branches.remove(branch);
    return Status();
}

Result<std::unique_ptr<Repository::Transaction>>
CheckingRepository::beginTransaction(const QString &branch, const QString &, int)
{
    if (m_target)
        m_target->m_branches.insert(branch);
    else
        m_branches.insert(branch);
    return std::unique_ptr<Repository::Transaction>(std::make_unique<DiscardedTransaction>());
}

bool CheckingRepository::hasBranch(const QString &branch) const
{
    return m_target ? m_target->hasBranch(branch) : m_branches.contains(branch);
}

Repository *CheckingRepository::targetRepository()
{
    return m_target ? m_target->targetRepository() : this;
}
