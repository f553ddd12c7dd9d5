#pragma once

#include "common/Failure.h"

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <optional>

// Passes commit messages through the user's filter program (--msg-filter):
// the message goes to its standard input, its standard output is the new
// message. Without a program the message stays as it is.
class MessageFilter
{
public:
    explicit MessageFilter(std::optional<QString> program) : program(std::move(program)) {}

    // The filter gets timeoutMs to finish; one that takes longer, fails or
    // cannot be started is a fatal failure, since its output would not be
    // the message it meant to write.
    Result<QByteArray> filter(const QByteArray &message, int timeoutMs = 30000);

private:
    const std::optional<QString> program;
    QProcess process;
};
