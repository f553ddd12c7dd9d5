#include "repository/GitCommand.h"

#include <QProcess>

GitCommand GitCommand::run(const QStringList &arguments, const QString &workingDirectory,
                           const QByteArray &input)
{
    QProcess git;
    if (!workingDirectory.isEmpty())
        git.setWorkingDirectory(workingDirectory);
    if (input.isEmpty())
        git.setStandardInputFile(QProcess::nullDevice());
    git.start(QStringLiteral("git"), arguments);
    if (!input.isEmpty()) {
        git.write(input);
        git.closeWriteChannel();
    }

    GitCommand command;
    command.m_ran = git.waitForFinished(-1);
    if (!command.m_ran) {
        command.m_errorString = git.errorString();
        return command;
    }
    command.m_crashed = git.exitStatus() != QProcess::NormalExit;
    command.m_exitCode = git.exitCode();
    command.m_output = git.readAllStandardOutput();
    command.m_errorOutput = git.readAllStandardError();
    return command;
}
