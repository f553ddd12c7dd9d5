#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers shared by every test program: running programs and reading files.
namespace TestSupport {

struct CommandResult
{
    int exitCode = -1;       // -1 when the program could not be run or crashed
    bool crashed = false;    // ended by a signal (abort included)
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs program with arguments in workingDirectory (current directory when
// empty), feeding input on its standard input. Waits at most timeoutSeconds.
CommandResult run(const QString &program, const QStringList &arguments,
                  const QString &workingDirectory = QString(),
                  const QByteArray &input = QByteArray(), int timeoutSeconds = 120);

// Runs a shell command line with bash -c; handy for svn and git plumbing.
CommandResult shell(const QString &commandLine, const QString &workingDirectory = QString(),
                    int timeoutSeconds = 120);

// The path of the tallowmere program under test.
QString tallowmereBinary();

// The project's source directory.
QString sourceDirectory();

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &contents);

// Fails the calling test (with a message naming the tool) when a program the
// test needs is not on PATH. Use as: if (!TestSupport::requireTool("svn")) return;
bool requireTool(const QString &program);

// The lines of the fast-import logs ("log-*" files) in directory that begin
// with "fatal:"; a conversion whose fast-import died leaves its reason there.
QStringList fastImportFatalLines(const QString &directory);

} // namespace TestSupport
