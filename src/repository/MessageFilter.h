#pragma once

#include "common/Failure.h"

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <optional>

// Passes commit messages through the user's filter (--msg-filter): the
// message goes to its standard input, its standard output is the new message.
// Without a filter the message stays as it is.
//
// The filter is a command, run the way git runs the commands it is given: a
// plain program name or path is started as it is; a command with blanks,
// quotes or other shell characters (such as "tr a-z A-Z") is run through
// /bin/sh -c.
class MessageFilter
{
public:
    explicit MessageFilter(std::optional<QString> command) : m_command(std::move(command)) {}

    // Why command cannot be started, found without running it: a program
    // that does not exist or cannot be executed, a command the shell cannot
    // parse, or whose first word the shell does not know. Checked before a
    // conversion begins, so that it does not fail at its first commit.
    static Status checkCanStart(const QString &command);

    // The filter gets timeoutMs to finish; one that takes longer, fails or
    // cannot be started is a fatal failure, since its output would not be
    // the message it meant to write.
    Result<QByteArray> filter(const QByteArray &message, int timeoutMs = 30000);

private:
    const std::optional<QString> m_command;
    QProcess m_process;
};
