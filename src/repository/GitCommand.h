#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A short git command run to its end without time limit, and what it gave:
// the one way the repository code runs git (fast-import, which is fed for a
// whole run, has FastImportProcess).
class GitCommand
{
public:
    // In workingDirectory (the current one when empty); input goes to the
    // command's standard input, which is empty otherwise.
    static GitCommand run(const QStringList &arguments, const QString &workingDirectory = QString(),
                          const QByteArray &input = QByteArray());

    // Whether git started and ended, by itself or by a signal.
    bool ran() const { return m_ran; }
    // Whether it ran and ended by itself with status 0.
    bool succeeded() const { return m_ran && !m_crashed && m_exitCode == 0; }
    // The status it ended with; -1 when it did not end by itself.
    int exitCode() const { return m_ran && !m_crashed ? m_exitCode : -1; }
    const QByteArray &output() const { return m_output; }
    const QByteArray &errorOutput() const { return m_errorOutput; }
    // Why git could not be run, when it did not run.
    const QString &errorString() const { return m_errorString; }

private:
    bool m_ran = false;
    bool m_crashed = false;
    int m_exitCode = -1;
    QByteArray m_output;
    QByteArray m_errorOutput;
    QString m_errorString;
};
