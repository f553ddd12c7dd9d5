#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

// The fast-import child process. With debug-rules every command text sent
// through writeMirrored is also copied into the file "gitlog-N", so that the
// file holds the whole stream except blob headers and file contents.
//
// The pipe to the child is made larger than the system's default where the
// system allows it, so that the converter and fast-import can work at the
// same time for longer (see LoggingQProcess.cpp).
class LoggingQProcess : public QProcess
{
public:
    // With mirror (debug-rules) the stream is copied into "gitlog-N".
    LoggingQProcess(const QString &repositoryName, bool mirror);
    ~LoggingQProcess() override;

    qint64 writeMirrored(const QByteArray &bytes);

private:
    QFile mirrorFile;
    bool mirrorEnabled = false;
    bool largeInputPipe = false;
};
