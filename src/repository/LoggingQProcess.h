#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

#include <chrono>

// The fast-import child process. With debug-rules every command text sent
// through writeMirrored is also copied into the file "gitlog-N", so that the
// file holds the whole stream except blob headers and file contents.
//
// The pipe to the child is made larger than the system's default where the
// system allows it, so that the converter and fast-import can work at the
// same time for longer (see LoggingQProcess.cpp).
//
// What is written is gathered into chunks before it goes to the pipe: a
// history of many small revisions would otherwise cost a system call (and a
// wake-up of the child) for every line. bytesToWrite() counts the gathered
// bytes too, and waitForBytesWritten() sends them first, so waiting until
// bytesToWrite() is 0 still passes everything on.
class LoggingQProcess : public QProcess
{
public:
    // With mirror (debug-rules) the stream is copied into "gitlog-N".
    LoggingQProcess(const QString &repositoryName, bool mirror);
    ~LoggingQProcess() override;

    qint64 writeMirrored(const QByteArray &bytes);

    qint64 bytesToWrite() const override;
    bool waitForBytesWritten(int msecs = 30000) override;
    // Whether a whole chunk is waiting to go to the pipe, or bytes that
    // have waited long enough: fast-import should not sit idle, nor learn
    // late of a command that ends it, while the converter reads a slow
    // revision.
    bool hasChunkToSend() const;

protected:
    qint64 writeData(const char *data, qint64 length) override;

private:
    void handOverGathered();

    QFile m_mirrorFile;
    QByteArray m_gathered;
    std::chrono::steady_clock::time_point m_gatheredSince;
    bool m_mirrorEnabled = false;
    bool m_largeInputPipe = false;
};
