#include "RecordingRepository.h"

namespace {

class RecordingTransaction : public Repository::Transaction
{
public:
    RecordingTransaction(RecordingRepository *repository,
                         RecordingRepository::TransactionRecord *record)
        : m_repository(repository), m_record(record)
    {
    }
    ~RecordingTransaction() override { m_record->deleted = true; }

    Status writeCommit() override
    {
        m_repository->record(QStringLiteral("writeCommit %1").arg(m_record->branch));
        if (!m_repository->writeCommitFailure.isEmpty())
            return Failure() << qPrintable(m_repository->writeCommitFailure);
        m_record->committed = true;
        return Status();
    }
    void setCommitter(const QByteArray &identity) override { m_record->committer = identity; }
    void setCommitTime(uint seconds) override { m_record->commitTime = seconds; }
    void setMessage(const QByteArray &message) override { m_record->message = message; }
    void recordMergeSource(const QString &sourceBranch, int sourceRevision) override
    {
        m_record->events.append(QStringLiteral("merge %1@%2").arg(sourceBranch).arg(sourceRevision));
    }
    void recordMergeInfoChange(const MergeInfoChange &) override {}
    void removePath(const QString &path) override
    {
        m_record->events.append(QStringLiteral("remove ") + path);
    }
    Result<QIODevice *> openFile(const QString &path, int mode, qint64 length) override
    {
        m_record->events.append(
                QStringLiteral("file %1 %2 %3").arg(path).arg(mode, 0, 8).arg(length));
        auto buffer = std::make_shared<QBuffer>();
        buffer->open(QIODevice::WriteOnly);
        m_record->files.append({path, buffer});
        return static_cast<QIODevice *>(buffer.get());
    }
    bool writeNote(const QByteArray &, bool, const QByteArray &) override { return false; }

private:
    RecordingRepository *m_repository;
    RecordingRepository::TransactionRecord *m_record;
};

} // namespace

QByteArray RecordingRepository::TransactionRecord::fileData(const QString &path) const
{
    for (const auto &file : files) {
        if (file.first == path)
            return file.second->data();
    }
    return QByteArray("<no such file>");
}

RecordingRepository::RecordingRepository(const QString &name, QStringList *log)
    : m_name(name), m_log(log)
{
}

QList<RecordingRepository::TransactionRecord *> RecordingRepository::transactionsOf(int revision) const
{
    QList<TransactionRecord *> found;
    for (const auto &record : transactions) {
        if (record->revision == revision)
            found.append(record.get());
    }
    return found;
}

Result<int> RecordingRepository::prepareResume(int &, int)
{
    return 1;
}

Status RecordingRepository::makeBranch(const QString &branch, int revision,
                                       const QString &sourceBranch, int sourceRevision,
                                       bool sourceHoldsFiles)
{
    if (!sourceHoldsFiles)
        record(QStringLiteral("makeBranch %1 from an empty tree").arg(branch));
    record(QStringLiteral("makeBranch %1 r%2 from %3@%4")
                   .arg(branch).arg(revision).arg(sourceBranch).arg(sourceRevision));
    if (!makeBranchFailure.isEmpty())
        return Failure() << qPrintable(makeBranchFailure);
    return Status();
}

Status RecordingRepository::dropBranch(const QString &branch, int revision)
{
    record(QStringLiteral("dropBranch %1 r%2").arg(branch).arg(revision));
    return Status();
}

Result<std::unique_ptr<Repository::Transaction>>
RecordingRepository::beginTransaction(const QString &branch, const QString &svnPrefix,
                                      int revision)
{
    record(QStringLiteral("beginTransaction %1 %2 r%3").arg(branch, svnPrefix).arg(revision));
    auto transactionRecord = std::make_unique<TransactionRecord>();
    transactionRecord->branch = branch;
    transactionRecord->svnPrefix = svnPrefix;
    transactionRecord->revision = revision;
    TransactionRecord *raw = transactionRecord.get();
    transactions.push_back(std::move(transactionRecord));
    return std::unique_ptr<Repository::Transaction>(std::make_unique<RecordingTransaction>(this, raw));
}

void RecordingRepository::recordAnnotatedTag(const QString &branch, const QString &svnPrefix,
                                             int revision, const QByteArray &author, uint epoch,
                                             const QByteArray &logMessage)
{
    record(QStringLiteral("recordAnnotatedTag %1 %2 r%3 %4 %5 %6")
                   .arg(branch, svnPrefix).arg(revision)
                   .arg(QString::fromUtf8(author)).arg(epoch).arg(QString::fromUtf8(logMessage)));
}

Status RecordingRepository::flushPendingUpdates()
{
    record(QStringLiteral("flushPendingUpdates"));
    return Status();
}
