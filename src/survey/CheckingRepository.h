#pragma once

#include "repository/Repository.h"

#include <QSet>

// A repository for checking rules: it keeps which branches exist, so that
// the dispatch decides exactly as in a conversion, and writes nothing.
class CheckingRepository : public Repository
{
public:
    // target: the repository a forwarding rule writes into, or null.
    CheckingRepository(const RepositoryRule &rule, CheckingRepository *target,
                       const QString &defaultBranch);

    Result<int> prepareResume(int &, int) override { return 0; }
    Status makeBranch(const QString &branch, int revision, const QString &sourceBranch,
                      int sourceRevision, bool sourceHoldsFiles = true) override;
    Status dropBranch(const QString &branch, int revision) override;
    Result<std::unique_ptr<Transaction>> beginTransaction(const QString &branch, const QString &svnPrefix,
                                                  int revision) override;
    void recordAnnotatedTag(const QString &, const QString &, int, const QByteArray &, uint,
                            const QByteArray &) override
    {
    }
    Status flushPendingUpdates() override { return Status(); }
    void finishRevision(int) override {}
    bool usesPrefix() const override { return !m_prefix.isEmpty(); }
    QString name() const override { return m_name; }
    Repository *targetRepository() override;
    Status importStatus() const override { return Status(); }
    Status finish() override { return Status(); }
    Status stop() override { return Status(); }
    bool hasBranch(const QString &branch) const;

private:
    QString m_name;
    QString m_prefix;
    CheckingRepository *m_target;
    QSet<QString> m_branches;
};
