#include "survey/GitDefaultBranch.h"

#include "repository/GitCommand.h"

QString GitDefaultBranch::name()
{
    const GitCommand git =
            GitCommand::run({QStringLiteral("config"), QStringLiteral("init.defaultBranch")});
    QString configured;
    if (git.succeeded())
        configured = QString::fromUtf8(git.output()).trimmed();
    return configured.isEmpty() ? QStringLiteral("master") : configured;
}
