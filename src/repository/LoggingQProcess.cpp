#include "repository/LoggingQProcess.h"

#include "driver/CommandLineParser.h"
#include "repository/RepositoryFileNames.h"

LoggingQProcess::LoggingQProcess(const QString &repositoryName)
{
    if (CommandLineParser::instance()->contains(QStringLiteral("debug-rules"))) {
        mirrorEnabled = true;
        mirrorFile.setFileName(RepositoryFileNames::mirrorFileName(repositoryName));
        mirrorFile.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
}

LoggingQProcess::~LoggingQProcess()
{
    if (mirrorEnabled)
        mirrorFile.close();
}

qint64 LoggingQProcess::writeMirrored(const QByteArray &bytes)
{
    if (mirrorEnabled) {
        mirrorFile.write(bytes);
        // The mirror is a debugging aid: keep it complete even if the program
        // ends through a fatal message.
        mirrorFile.flush();
    }
    return write(bytes);
}
