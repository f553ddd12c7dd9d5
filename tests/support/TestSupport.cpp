#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>

namespace TestSupport {

CommandResult run(const QString &program, const QStringList &arguments,
                  const QString &workingDirectory, const QByteArray &input, int timeoutSeconds)
{
    CommandResult result;
    QProcess process;
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    // Tests stop the programs they start with SIGINT; a suite started with
    // SIGINT ignored (in the background, under nohup) would pass that on.
    process.setChildProcessModifier([] { std::signal(SIGINT, SIG_DFL); });
    process.start(program, arguments);
    if (!process.waitForStarted(30000))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutSeconds * 1000)) {
        process.kill();
        process.waitForFinished();
    }
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = result.crashed ? -1 : process.exitCode();
    return result;
}

CommandResult shell(const QString &commandLine, const QString &workingDirectory, int timeoutSeconds)
{
    return run(QStringLiteral("bash"), {QStringLiteral("-c"), commandLine}, workingDirectory,
               QByteArray(), timeoutSeconds);
}

QString tallowmereBinary()
{
    return QStringLiteral(TALLOWMERE_BINARY);
}

QString sourceDirectory()
{
    return QStringLiteral(TALLOWMERE_SOURCE_DIR);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    file.write(contents);
}

bool requireTool(const QString &program)
{
    if (!QStandardPaths::findExecutable(program).isEmpty())
        return true;
    ADD_FAILURE() << "required tool not found on PATH: " << program.toStdString();
    return false;
}

QStringList fastImportFatalLines(const QString &directory)
{
    QStringList fatalLines;
    const QDir dir(directory);
    for (const QString &name : dir.entryList({QStringLiteral("log-*")}, QDir::Files)) {
        for (const QByteArray &line : readFile(dir.filePath(name)).split('\n')) {
            if (line.startsWith("fatal:"))
                fatalLines.append(name + QStringLiteral(": ") + QString::fromUtf8(line));
        }
    }
    return fatalLines;
}

} // namespace TestSupport
