#pragma once

#include "common/Failure.h"
#include "repository/LoggingQProcess.h"
#include "repository/RepositoryOptions.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The "git fast-import" child process of one repository (or "cat" into a
// file in the dry-run and create-dump modes): starting it, feeding it,
// stopping it, and telling how it ended.
//
// An end that may have lost commits the log already claims is reported once,
// at once through the options' failure reporter, with the errors the process
// wrote (its last lines when it wrote none), and kept: a process that died is
// not started again, since what it was sent is lost, and the run fails.
class FastImportProcess
{
public:
    FastImportProcess(const QString &repositoryName, const RepositoryOptions &options);
    ~FastImportProcess();

    // Runs once the process has started, before anything else is written to it.
    void setStartAction(std::function<void()> action) { m_startAction = std::move(action); }
    void setWorkingDirectory(const QString &directory);

    // Marks the process as most recently used and starts it if needed.
    Status ensureRunning();
    // A failure, after reporting it, when the process has ended on its own.
    Status checkStillRunning();
    // Lets a running process finish (with a checkpoint) and forgets it.
    void stop();
    // Waits without time limit until the process has taken every buffered
    // byte; a failed wait is reported and makes the run fail.
    Status drain(bool nameRepository);
    // Passes the stream on once a whole chunk of it is waiting, as drain()
    // does, and looks whether the process still runs. Between chunks nothing
    // is sent: the converter goes on while fast-import works.
    Status passOn();

    // The first end of the process that may have lost commits; it has been
    // reported when it happened.
    Status status() const;

    LoggingQProcess &channel() { return m_process; }

private:
    Status start();
    void waitToFinish(int periodMs);
    Status recordEnd(bool endedOnItsOwn);
    Status record(Failure failure);
    Failure reportNow(Failure failure) const;
    QByteArray logTail() const;
    QByteArray logErrorLines() const;
    QString logFileName() const;

    const QString m_repositoryName;
    const RepositoryOptions m_options;
    LoggingQProcess m_process;
    std::function<void()> m_startAction;
    std::optional<Failure> m_failure;
    bool m_started = false;
    bool m_endReported = false;
    qint64 m_logSizeAtStart = 0;
};
