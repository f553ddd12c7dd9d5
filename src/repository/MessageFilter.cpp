#include "repository/MessageFilter.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

namespace {

const QString shell = QStringLiteral("/bin/sh");

// Like git: a command holding any of these characters is shell text.
bool needsShell(const QString &command)
{
    static const QString shellCharacters = QStringLiteral("|&;<>()$`\\\"' \t\n*?[#~=%");
    for (const QChar c : command) {
        if (shellCharacters.contains(c))
            return true;
    }
    return false;
}

void startCommand(QProcess &process, const QString &command)
{
    if (needsShell(command))
        process.start(shell, {QStringLiteral("-c"), command}, QIODevice::ReadWrite);
    else
        process.start(command, QStringList(), QIODevice::ReadWrite);
}

Failure cannotStart(const QString &command, const QString &reason)
{
    return Failure::fatal(QStringLiteral("Cannot start the message filter \"%1\": %2").arg(command, reason));
}

// Runs /bin/sh with arguments; its exit code, -1 when it did not run.
int runShell(const QStringList &arguments, QByteArray *errorOutput = nullptr)
{
    QProcess process;
    process.start(shell, arguments, QIODevice::ReadOnly);
    process.closeReadChannel(QProcess::StandardOutput);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (errorOutput)
        *errorOutput = process.readAllStandardError().trimmed();
    return process.exitCode();
}

// Why the program at path or found through PATH cannot be run; empty if it can.
QString programProblem(const QString &program)
{
    if (!program.contains(QLatin1Char('/'))) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            return QStringLiteral("no such program in PATH");
        return QString();
    }
    const QFileInfo file(program);
    if (!file.exists())
        return QStringLiteral("no such file");
    if (!file.isFile() || !file.isExecutable())
        return QStringLiteral("not an executable file");
    return QString();
}

// The first word of a shell command after any "NAME=value" assignments, when
// it is a plain word whose meaning does not depend on expansion or quoting.
QString plainFirstWord(const QString &command)
{
    static const QRegularExpression assignment(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*=\\S*$"));
    static const QRegularExpression plainWord(QStringLiteral("^[A-Za-z0-9_./+,:@%^-]+$"));
    const QStringList words = command.split(QRegularExpression(QStringLiteral("\\s+")),
                                            Qt::SkipEmptyParts);
    for (const QString &word : words) {
        if (assignment.match(word).hasMatch())
            continue;
        return plainWord.match(word).hasMatch() ? word : QString();
    }
    return QString();
}

} // namespace

Status MessageFilter::checkCanStart(const QString &command)
{
    if (command.trimmed().isEmpty())
        return cannotStart(command, QStringLiteral("the command is empty"));
    if (!needsShell(command)) {
        const QString problem = programProblem(command);
        return problem.isEmpty() ? Status() : Status(cannotStart(command, problem));
    }

    QByteArray syntaxError;
    const int parsed = runShell({QStringLiteral("-n"), QStringLiteral("-c"), command}, &syntaxError);
    if (parsed != 0) {
        return cannotStart(command, parsed < 0 ? shell + QStringLiteral(" did not run")
                                               : QString::fromLocal8Bit(syntaxError));
    }
    const QString program = plainFirstWord(command);
    if (program.isEmpty())
        return Status();
    if (program.contains(QLatin1Char('/'))) {
        const QString problem = programProblem(program);
        return problem.isEmpty() ? Status()
                                 : Status(cannotStart(command, program + QStringLiteral(": ") + problem));
    }
    // Builtins and keywords count: the shell knows them.
    if (runShell({QStringLiteral("-c"), QStringLiteral("command -v -- \"$1\" >/dev/null"),
                  QStringLiteral("sh"), program})
        != 0)
        return cannotStart(command, program + QStringLiteral(": command not found"));
    return Status();
}

Result<QByteArray> MessageFilter::filter(const QByteArray &message, int timeoutMs)
{
    if (!m_command)
        return message;

    if (m_process.state() != QProcess::NotRunning)
        return Failure::fatal(QStringLiteral("filter process already running?"));

    startCommand(m_process, *m_command);
    if (!m_process.waitForStarted(-1))
        return Failure::fatal(QString::asprintf("Failed to Start Filter %d %s", 880,
                                                qPrintable(m_process.errorString())));

    m_process.write(message);
    m_process.closeWriteChannel();

    // What a filter printed before it was stopped is only part of a message.
    if (!m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(-1);
        return Failure::fatal(QString::asprintf("Filter %s did not finish within %d seconds",
                                                qPrintable(*m_command), timeoutMs / 1000));
    }

    // A filter that failed has most likely not written the message it meant
    // to; committing its output would silently lose the log message.
    if (m_process.exitStatus() == QProcess::CrashExit)
        return Failure::fatal(QString::asprintf("Filter %s was ended by signal %d",
                                                qPrintable(*m_command), m_process.exitCode()));
    if (m_process.exitCode() != 0)
        return Failure::fatal(QString::asprintf("Filter %s exited with status %d",
                                                qPrintable(*m_command), m_process.exitCode()));
    return m_process.readAllStandardOutput();
}
