#include "repository/MessageFilter.h"

#include <QStringList>

Result<QByteArray> MessageFilter::filter(const QByteArray &message, int timeoutMs)
{
    if (!program)
        return message;

    if (process.state() != QProcess::NotRunning)
        return Failure::fatal(QStringLiteral("filter process already running?"));

    process.start(*program, QStringList(), QIODevice::ReadWrite);
    if (!process.waitForStarted(-1))
        return Failure::fatal(QString::asprintf("Failed to Start Filter %d %s", 880,
                                                qPrintable(process.errorString())));

    process.write(message);
    process.closeWriteChannel();

    // What a filter printed before it was stopped is only part of a message.
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(-1);
        return Failure::fatal(QString::asprintf("Filter %s did not finish within %d seconds",
                                                qPrintable(*program), timeoutMs / 1000));
    }

    // A filter that failed has most likely not written the message it meant
    // to; committing its output would silently lose the log message.
    if (process.exitStatus() == QProcess::CrashExit)
        return Failure::fatal(QString::asprintf("Filter %s was ended by signal %d",
                                                qPrintable(*program), process.exitCode()));
    if (process.exitCode() != 0)
        return Failure::fatal(QString::asprintf("Filter %s exited with status %d",
                                                qPrintable(*program), process.exitCode()));
    return process.readAllStandardOutput();
}
