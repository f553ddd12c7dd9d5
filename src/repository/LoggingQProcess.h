#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

// The fast-import child process. With debug-rules every command text sent
// through writeMirrored is also copied into the file "gitlog-N", so that the
// file holds the whole stream except blob headers and file contents.
class LoggingQProcess : public QProcess
{
public:
    explicit LoggingQProcess(const QString &repositoryName);
    ~LoggingQProcess() override;

    qint64 writeMirrored(const QByteArray &bytes);

private:
    QFile mirrorFile;
    bool mirrorEnabled = false;
};
