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

    Result<int> prepareResume(int &) override { return 0; }
    void loadAnnotatedTags() override {}
    void loadBranchNotes() override {}
    void recoverLogFile() override {}
    void announceBranches() override {}
    Status makeBranch(const QString &branch, int revision, const QString &sourceBranch,
                      int sourceRevision, bool sourceHoldsFiles = true) override;
    Status dropBranch(const QString &branch, int revision) override;
    std::unique_ptr<Transaction> beginTransaction(const QString &branch, const QString &svnPrefix,
                                                  int revision) override;
    void recordAnnotatedTag(const QString &, const QString &, int, const QByteArray &, uint,
                            const QByteArray &) override
    {
    }
    Status writeAnnotatedTags() override { return Status(); }
    Status storeBranchNotes() override { return Status(); }
    Status flushPendingUpdates() override { return Status(); }
    void finishRevision(int) override {}
    bool hasBranch(const QString &branch) const override;
    QByteArray noteForBranch(const QString &) const override { return QByteArray(); }
    void setNoteForBranch(const QString &, const QByteArray &) override {}
    bool usesPrefix() const override { return !m_prefix.isEmpty(); }
    QString name() const override { return m_name; }
    Repository *targetRepository() override;

private:
    QString m_name;
    QString m_prefix;
    CheckingRepository *m_target;
    QSet<QString> m_branches;
};
