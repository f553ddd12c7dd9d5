#pragma once

#include "repository/Repository.h"

// A repository rule that writes into another, earlier declared repository,
// with its own path prefix put in front of every file path.
class ForwardingRepository : public Repository
{
public:
    class Transaction : public Repository::Transaction
    {
    public:
        Transaction(std::unique_ptr<Repository::Transaction> inner, const QString &prefix);
        ~Transaction() override;

        Status writeCommit() override;
        void setCommitter(const QByteArray &identity) override;
        void setCommitTime(uint seconds) override;
        void setMessage(const QByteArray &message) override;
        void recordMergeSource(const QString &sourceBranch, int sourceRevision) override;
        void recordMergeInfoChange(const MergeInfoChange &change) override;
        void removePath(const QString &path) override;
        Result<QIODevice *> openFile(const QString &path, int mode, qint64 length) override;
        bool writeNote(const QByteArray &noteText, bool append,
                       const QByteArray &commit = QByteArray()) override;

    private:
        std::unique_ptr<Repository::Transaction> m_inner;
        QString m_prefix;
    };

    ForwardingRepository(const QString &name, Repository *target, const QString &prefix);

    ~ForwardingRepository() override;
    Result<int> prepareResume(int &cutoff, int resumeFrom = 0) override;
    Status makeBranch(const QString &branch, int revision, const QString &sourceBranch,
                      int sourceRevision, bool sourceHoldsFiles = true) override;
    Status dropBranch(const QString &branch, int revision) override;
    Result<std::unique_ptr<Repository::Transaction>> beginTransaction(const QString &branch,
                                                                      const QString &svnPrefix,
                                                                      int revision) override;
    void recordAnnotatedTag(const QString &branch, const QString &svnPrefix, int revision,
                            const QByteArray &author, uint epoch,
                            const QByteArray &logMessage) override;
    Status flushPendingUpdates() override;
    void finishRevision(int revision) override;
    bool usesPrefix() const override;
    QString name() const override;
    Repository *targetRepository() override;
    // The target is finished and stopped on its own.
    Status importStatus() const override { return Status(); }
    Status finish() override { return Status(); }
    Status stop() override { return Status(); }

private:
    QString m_repositoryName;
    Repository *m_target; // not owned
    QString m_prefix;
};
