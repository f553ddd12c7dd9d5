#pragma once

#include "repository/Repository.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

// A Repository that records every call the Subversion side makes, for tests.
// Calls of every RecordingRepository go into one shared log, in call order,
// each line prefixed with the repository's name.
class RecordingRepository : public Repository
{
public:
    // What one transaction received; kept after the transaction is deleted.
    struct TransactionRecord
    {
        QString branch;
        QString svnPrefix;
        int revision = 0;
        QByteArray committer;
        uint commitTime = 0;
        QByteArray message;
        bool committed = false;
        bool deleted = false;
        // "remove PATH", "file PATH MODE LENGTH", "merge BRANCH@REV", in order.
        QStringList events;
        // The bytes written into the device of each file, in openFile order.
        QList<QPair<QString, std::shared_ptr<QBuffer>>> files;

        QByteArray fileData(const QString &path) const;
    };

    explicit RecordingRepository(const QString &name, QStringList *log);

    // Test controls.
    bool prefixInUse = false;
    Repository *target = nullptr;   // null: this repository itself
    // Non-empty: makeBranch or writeCommit fails with this message.
    QString makeBranchFailure;
    QString writeCommitFailure;
    std::vector<std::unique_ptr<TransactionRecord>> transactions;

    // The records of transactions begun for a revision.
    QList<TransactionRecord *> transactionsOf(int revision) const;

    Result<int> prepareResume(int &cutoff, int resumeFrom = 0) override;
    Status makeBranch(const QString &branch, int revision, const QString &sourceBranch,
                      int sourceRevision, bool sourceHoldsFiles = true) override;
    Status dropBranch(const QString &branch, int revision) override;
    Result<std::unique_ptr<Transaction>> beginTransaction(const QString &branch, const QString &svnPrefix,
                                                  int revision) override;
    void recordAnnotatedTag(const QString &branch, const QString &svnPrefix, int revision,
                            const QByteArray &author, uint epoch,
                            const QByteArray &logMessage) override;
    Status flushPendingUpdates() override;
    void finishRevision(int) override {}
    bool usesPrefix() const override { return prefixInUse; }
    QString name() const override { return m_name; }
    Repository *targetRepository() override { return target ? target : this; }
    Status importStatus() const override { return Status(); }
    Status finish() override { return Status(); }
    Status stop() override { return Status(); }

    void record(const QString &line) { m_log->append(m_name + QLatin1String(": ") + line); }

private:
    QString m_name;
    QStringList *m_log;
};
